# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# The walkers: six processes racing, their reports in the order they finish.
resume["walkers"]="des marcheurs aléatoires, dans l'ordre où ils finissent"

rapports_suivants() {
  local morceau r k
  IFS= read -r -d '' -t 0.2 -u "$course_lecture" morceau
  r=$?
  # A read cut short by its time limit may end inside a report's leading
  # blanks (bash reads a pipe byte by byte, and a busy machine lets the limit
  # fall anywhere): that start of a line waits for the rest, so that the
  # east's blanks are trimmed as one.
  morceau=$rapport_en_attente$morceau
  rapport_en_attente=
  if ((r > 128)) && [[ $morceau =~ $'\n'\ *$ ]]; then
    rapport_en_attente=${BASH_REMATCH[0]}
    morceau=${morceau%"$rapport_en_attente"}
  fi
  if [[ -n $morceau ]]; then
    # Each report opens its line; the east loses 30 of its 51 blanks.
    local -a bouts
    local sortie
    mapfile -t bouts <<<"$morceau"
    sortie=${bouts[0]}
    for ((k = 1; k < ${#bouts[@]}; k++)); do
      sortie+=$'\n    '${bouts[k]#"                              "}
    done
    printf '%s' "$sortie"
    rapports_vus+=$sortie
  fi
  ((r == 0 || r > 128))
}

etape_walkers() {
  # In class, longer walks: there is time to see them run.
  local n=20000000 coeurs
  ((classe)) && n=60000000
  coeurs=$(nproc 2>/dev/null) || coeurs='?'
  dire "Trois marcheurs à l'est, trois à l'ouest, enfants de la visite, chacun au hasard"
  dire "à partir de son pid. Chaque rapport arrive d'un bloc, quand son marcheur finit."
  montrer_code walkers/marche.cpp 'srand\(seed\)' 'return y'
  montrer_code walkers/rightwalker.cpp 'uint64_t nb_steps = ' 'position_finale\(nb_steps, getpid'
  moment "prédisez : les six positions seront-elles égales ? Dans quel ordre ?"
  commande "n=$n; mkfifo course"
  # shellcheck disable=SC2016 # shown as it is typed
  commande_suite 'for i in 1 2 3; do rightwalker $i $n & leftwalker $i $n & done >course'
  mkfifo course
  # The pipe is held open until the walkers have it; then they are its only
  # writers, and its end says they have all finished.
  exec {tenue}<>course
  local i marcheurs=()
  for i in 1 2 3; do
    rightwalker "$i" "$n" &
    marcheurs+=($!)
    leftwalker "$i" "$n" &
    marcheurs+=($!)
  done >course
  exec {course_lecture}<course {tenue}>&-
  rapport_en_attente='' rapports_vus=''
  if ((classe)); then
    printf '\n%s» 6 marcheurs pour %s cœurs : chacun a sa part. ps -C %s%s\n' \
      "$gras" "$coeurs" "rightwalker,leftwalker" "$normal"
    printf '  (q : fin de la visite ; la suite quand ils auront tous fini) '
    touche rapports_suivants q_seul
    # However the reports came in (one by one on a slow machine), the stop
    # that compares them starts at the top of the pane, with them alone.
    if ((au_terminal)); then
      titre walkers
      printf '%s' "$rapports_vus"
    fi
  else
    while rapports_suivants; do :; done
  fi
  printf '\n'
  wait "${marcheurs[@]}"
  exec {course_lecture}<&-
  rm -f course
  ligne_vide=0
  moment "les 6 rapports, dans l'ordre où les marcheurs ont fini"
  dire "Les positions diffèrent parce que les pids diffèrent. Les rapports de l'est"
  dire "commencent après 51 blancs ; la visite en retire 30 pour tenir sur 80 colonnes."
  dire "Sans arguments :"
  commande 'rightwalker; echo "code $?"'
  rightwalker 2>&1 | indenter
  dire "    code ${PIPESTATUS[0]}"
  moment "les marcheurs ont fini, il n'en reste aucun : ps -C rightwalker,leftwalker"
}
