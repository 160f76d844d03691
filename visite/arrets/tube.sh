# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# tube: cupcounter | head -n 3. The one pipe the two processes share, seen
# in /proc from both ends; then the writer, its reader gone, killed by
# SIGPIPE at its next line: status 141.
resume["tube"]="deux processus reliés par un tube, puis SIGPIPE"

# The two ends' times of death, as timestamps, once seen (tube_suivre).
tube_fin_lecteur='' tube_fin_ecrivain=''

# Notes when head, then cupcounter, has ended. Called at each round of the
# class's wait ($1 = 1: says it on the line above the prompt), or in a loop.
tube_suivre() {
  local e change=0
  if [[ -z $tube_fin_lecteur ]] && ! { lettre_etat "$tube_lecteur" e && [[ $e != Z ]]; }; then
    tube_fin_lecteur=$EPOCHREALTIME change=1
  fi
  if [[ -z $tube_fin_ecrivain ]] && ! { lettre_etat "$tube_ecrivain" e && [[ $e != Z ]]; }; then
    tube_fin_ecrivain=$EPOCHREALTIME change=1
  fi
  ((change && ${1:-0} && au_terminal)) || return 0
  local l
  l="    head fini à +$(depuis "$tube_debut" "$tube_fin_lecteur") s"
  if [[ -n $tube_fin_ecrivain ]]; then l+=", cupcounter à +$(depuis "$tube_debut" "$tube_fin_ecrivain") s"
  else l+=" ; cupcounter vit encore"; fi
  printf '\r\033[A\033[K%s\n%s' "$l" "$invite"
}
tube_en_direct() { tube_suivre 1; }

etape_tube() {
  dire "Pour cupcounter | head -n 3, le shell crée un tube, puis deux processus :"
  dire "cupcounter y écrit une ligne par seconde, head en lit trois, les recopie et"
  dire "se termine. Ce que fait cupcounter, à chaque ligne :"
  montrer_code replacement/cupcounter.cpp 'for \(;;\)' '^    }'
  moment "prédisez : que devient cupcounter, une fois head terminé ?"

  # The shell's pipeline, made by hand so that the tour can wait for each
  # process and have its code: head as a coprocess, cupcounter writing into
  # its input (bash closes the coprocess's descriptors in other children: a
  # copy is handed over). The tour holds no reading end: once head has gone,
  # the pipe has no reader. Bash closes the coprocess's own descriptors when
  # it ends.
  commande "cupcounter | head -n 3 >tete &"
  arbre_montre head
  local vers_head
  coproc head -n 3 >tete
  tube_lecteur=$COPROC_PID
  exec {vers_head}>&"${COPROC[1]}"
  tube_debut=$EPOCHREALTIME tube_fin_lecteur='' tube_fin_ecrivain=''
  cupcounter >&"$vers_head" &
  tube_ecrivain=$!
  exec {vers_head}>&-
  # Both shown once they run their own program: until its exec, each is a
  # copy of the tour, and ps would show the tour's command line.
  local i e l
  for ((i = 0; i < 300; i++)); do
    nom_de "$tube_ecrivain" e && nom_de "$tube_lecteur" l && [[ $e == cupcounter && $l == head ]] && break
    dormir 0.01
  done
  dire "cupcounter (pid $tube_ecrivain) et head (pid $tube_lecteur), fils de la visite :"
  montrer "$tube_ecrivain" "$tube_lecteur"
  commande_suite "readlink /proc/$tube_ecrivain/fd/1 /proc/$tube_lecteur/fd/0"
  local bout_ecrit bout_lu
  bout_ecrit=$(readlink "/proc/$tube_ecrivain/fd/1") bout_lu=$(readlink "/proc/$tube_lecteur/fd/0")
  printf '%s\n%s\n' "$bout_ecrit" "$bout_lu" | indenter
  if [[ $bout_ecrit == "$bout_lu" && $bout_ecrit == pipe:* ]]; then
    local inode=${bout_ecrit#pipe:[}
    dire "Le même tube (inode ${inode%]}) : la sortie 1 de cupcounter y écrit, l'entrée 0"
    dire "de head y lit. Il ne vit que dans le noyau, sans nom de fichier."
  fi
  moment "un tube, deux bouts : readlink /proc/$tube_ecrivain/fd/1 /proc/$tube_lecteur/fd/0" tube_en_direct

  for ((i = 0; i < 600; i++)); do
    tube_suivre
    [[ -n $tube_fin_lecteur && -n $tube_fin_ecrivain ]] && break
    dormir 0.01
  done
  arbre_montre
  local code_lecteur code_ecrivain
  { wait "$tube_lecteur"; } 2>/dev/null; code_lecteur=$?
  { wait "$tube_ecrivain"; } 2>/dev/null; code_ecrivain=$?
  commande "cat tete"
  indenter <tete
  rm -f tete
  dire "head a fini à +$(depuis "$tube_debut" "$tube_fin_lecteur") s, ses trois lignes lues : le tube n'a plus de"
  dire "lecteur. cupcounter a fini à +$(depuis "$tube_debut" "$tube_fin_ecrivain") s, à sa ligne suivante : écrire dans un"
  dire "tube sans lecteur vaut SIGPIPE, dont l'action par défaut termine le processus."
  dire
  dire "La visite a recueilli leurs codes : cupcounter $code_ecrivain, head $code_lecteur. Au terminal,"
  dire "echo \"\${PIPESTATUS[@]}\" juste après le tube les écrit : $code_ecrivain $code_lecteur."
  if ((code_ecrivain > 128)); then
    dire "Tué par le signal n, un processus a pour code 128 + n : $code_ecrivain = 128 + $((code_ecrivain - 128))."
    commande_suite "kill -l $code_ecrivain"
    kill -l "$code_ecrivain" | indenter
  fi
  moment "cupcounter tué par SIGPIPE, code $code_ecrivain. Essayez : cupcounter | head -n 3"
}
