# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# cupcounter: a line a second, read from a pipe as it comes.
resume["cupcounter"]="une ligne par seconde, avec son pid et un numéro de tasse"

etape_cupcounter() {
  dire "Chaque seconde, son pid et un numéro de tasse, à partir de 0. Il ne s'arrête"
  dire "jamais de lui-même : au clavier, Ctrl-C. Il écrit chaque ligne aussitôt, même"
  dire "dans un tube. La visite lit ce tube et note l'heure d'arrivée des lignes."
  commande "mkfifo tasses; cupcounter >tasses &"
  mkfifo tasses
  exec {lecture}<>tasses
  cupcounter >tasses &
  local pid=$!
  tasses_debut=$EPOCHREALTIME tasses_lecture=$lecture
  lignes_horodatees "$lecture" 3 "$tasses_debut"
  moment "cupcounter $pid compte toujours : ps -o pid,stat,time,cmd -p $pid" tasse_suivante
  dire "La visite l'arrête par kill, qui envoie SIGTERM. Ctrl-C enverrait SIGINT, mais"
  dire "un script lance ses tâches de fond en leur faisant ignorer SIGINT :"
  commande "kill $pid"
  kill "$pid"; { wait "$pid"; } 2>/dev/null
  exec {lecture}<&-
}

# While the tour stops on cupcounter: its new lines, each in place of the one
# before, right above the prompt.
tasse_suivante() {
  local l
  while IFS= read -r -t 0.01 l <&"$tasses_lecture"; do
    if ((au_terminal)); then
      printf '\r\033[A\033[K    [+%s s] %s\n%s' "$(depuis "$tasses_debut")" "$l" "$invite"
    else
      printf '    [+%s s] %s\n' "$(depuis "$tasses_debut")" "$l"
    fi
  done
  return 0
}

# handover lives only as long as it takes to call execvp: under a millisecond.
# To show it under its name, the tour starts it and stops it (SIGSTOP), then
# lets it go in small steps (SIGCONT, then SIGSTOP), reading its name in /proc
# at each stop, until the process is held under the name handover. When it has
# changed programs already, it is killed and the tour starts again (a SIGSTOP
# that arrives during an exec does not always take effect before the next
# one). What ps and the tree show then is the process's real state. The pid
# held is left in $saisi.
