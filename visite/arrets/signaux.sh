# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# signaux: Ctrl-Z's SIGTSTP and fg's SIGCONT on cupcounter; SIGTERM's default
# action against attentif's handler; a parent that reaps on SIGCHLD, the cure
# for keyhold1's zombie; and the codes 128 + n of a process a signal killed.
resume["signaux"]="suspendre, reprendre, intercepter : les signaux"

# Waits (at most 3 s) until process $1's state letter is, or is not ($2 = !),
# the letter $3.
attendre_etat() {
  local e i
  for ((i = 0; i < 300; i++)); do
    lettre_etat "$1" e || return 1
    if [[ $2 == '!' ]]; then [[ $e != "$3" ]] && return 0; else [[ $e == "$3" ]] && return 0; fi
    dormir 0.01
  done
  return 1
}

etape_signaux() {
  dire "Chaque signal a son action par défaut (terminer, suspendre, ne rien faire),"
  dire "sauf si le programme installe sa propre fonction. Ctrl-Z envoie SIGTSTP au"
  dire "programme du premier plan, qui est suspendu ; la visite l'envoie par kill."
  commande "mkfifo tasses; cupcounter >tasses &"
  mkfifo tasses
  exec {lecture}<>tasses
  # A shell with job control gives each job a group of its own; without one,
  # the tour's group (orphaned when tmux started the tour) would have the
  # kernel discard SIGTSTP.
  set -m
  cupcounter >tasses &
  local pid=$!
  set +m
  tasses_debut=$EPOCHREALTIME tasses_lecture=$lecture
  lignes_horodatees "$lecture" 1 "$tasses_debut"
  commande_suite "kill -TSTP $pid"
  kill -TSTP "$pid"
  attendre_etat "$pid" = T
  montrer "$pid"
  dire "État T : suspendu. Il ne compte plus ; plus une ligne n'arrive."
  legende_etats
  moment "cupcounter $pid suspendu : ps -o pid,stat,cmd -p $pid" tasse_suivante

  dire "fg le remettrait au premier plan en lui envoyant SIGCONT : il repart."
  commande "kill -CONT $pid"
  kill -CONT "$pid"
  attendre_etat "$pid" '!' T
  lignes_horodatees "$lecture" 1 "$tasses_debut"
  montrer "$pid"
  dire "SIGTERM, que kill envoie sans option, le termine : son action par défaut."
  commande "kill $pid; wait $pid; echo \"code \$?\""
  kill "$pid"
  local code
  { wait "$pid"; } 2>/dev/null
  code=$?
  exec {lecture}<&-
  rm -f tasses
  dire "    code $code"
  dire "Tué par le signal n, un processus a pour code 128 + n : $code = 128 + $((code - 128)),"
  dire "SIGTERM (kill -l $code : $(kill -l "$code"))."
  moment "suspendu (T), repris, terminé : code $code"

  dire "attentif, lui, installe deux fonctions, qui s'exécutent à l'arrivée du signal :"
  dire "l'une pour SIGCHLD, que reçoit un parent à la fin d'un fils ; l'autre pour"
  dire "SIGTERM."
  montrer_code demonstrations/attentif.cpp '^    signal\(SIGCHLD' 'signal\(SIGTERM'
  montrer_code demonstrations/attentif.cpp '^void quand_sigchld' '^}'
  moment "prédisez : son fils restera-t-il zombie ? Que fera SIGTERM ?"

  commande "attentif >attentif.txt &"
  attentif >attentif.txt &
  local parent=$! fils
  attendre_texte attentif.txt 30 "recueilli" || true
  indenter <attentif.txt
  fils=$(sed -n 's/^fils \([0-9]*\), je finis$/\1/p' attentif.txt)
  montrer "$parent" ${fils:+"$fils"}
  dire "Son fils ${fils:-?} a fini et attentif l'a recueilli aussitôt : pas de zombie,"
  dire "à la différence de keyhold1. Puis le même SIGTERM qu'à cupcounter :"
  commande "kill $parent"
  kill "$parent"
  attendre_texte attentif.txt 30 "je continue" || true
  sed -n '/je continue/p' attentif.txt | indenter
  montrer "$parent"
  moment "attentif $parent a intercepté SIGTERM et continue : kill $parent"

  dire "SIGKILL, lui, ne s'intercepte pas :"
  commande "kill -KILL $parent; wait $parent; echo \"code \$?\""
  kill -KILL "$parent"
  { wait "$parent"; } 2>/dev/null
  code=$?
  rm -f attentif.txt
  dire "    code $code"
  dire "$code = 128 + $((code - 128)), SIGKILL. Pour le même SIGTERM, cupcounter a fini et"
  dire "attentif a continué : l'action par défaut, ou la fonction du programme."
  moment "SIGKILL : code $code = 128 + $((code - 128)). Essayez : attentif, puis kill PID"
}
