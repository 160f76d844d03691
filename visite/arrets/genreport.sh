# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# genreport: what fork returns to each side; then an orphan, for sure, and
# its adoption.
resume["genreport"]="ce que fork renvoie au parent et au fils ; un orphelin"

etape_genreport() {
  dire "Un seul fork, puis chacun des deux processus écrit une ligne : sa génération,"
  dire "son pid, celui de son parent, et ce que fork lui a renvoyé."
  montrer_code process_creation/genreport.cpp 'pid_t res = fork' '2 \* generation'
  moment "prédisez : que vaudra res chez le parent ? chez le fils ?"
  commande genreport
  genreport >gen
  attendre_texte gen 20 "gen 2" || true
  indenter <gen
  local l pere='' fils='' res_pere='' pere_du_pere='' pere_du_fils=''
  while IFS= read -r l; do
    if [[ $l =~ ^gen\ 1\ :\ je\ suis\ ([0-9]+)\ fils\ de\ ([0-9]+),\ res\ =\ ([0-9]+) ]]; then
      pere=${BASH_REMATCH[1]} pere_du_pere=${BASH_REMATCH[2]} res_pere=${BASH_REMATCH[3]}
    elif [[ $l =~ ^\ \ gen\ 2\ :\ je\ suis\ ([0-9]+)\ fils\ de\ ([0-9]+) ]]; then
      fils=${BASH_REMATCH[1]} pere_du_fils=${BASH_REMATCH[2]}
    fi
  done <gen
  dire
  dire "Le parent ($pere) a reçu res = $res_pere, le pid de son fils ; le fils a"
  dire "reçu 0. Le parent du parent ($pere_du_pere) est la visite (\$\$ = $$)."
  dire "Personne n'attend personne : l'ordre des lignes est celui de l'ordonnanceur."
  if [[ -n $pere_du_fils && $pere_du_fils != "$pere" ]]; then
    local adoptant='?'; nom_de "$pere_du_fils" adoptant
    dire "Cette fois, le fils se dit fils de $pere_du_fils et non de $pere : son parent"
    dire "avait déjà fini quand il a demandé getppid(). Orphelin, il a été adopté par"
    dire "le processus $pere_du_fils ($adoptant)."
  fi
  moment "res = $res_pere chez le parent, 0 chez le fils. Essayez : genreport"

  dire "Un orphelin, à coup sûr : un shell lance cupcounter en arrière-plan, puis"
  dire "attend une ligne sur son entrée, un tube que tient la visite. Tant qu'il"
  dire "attend, il est le parent de cupcounter."
  commande "mkfifo ligne; sh -c 'cupcounter >/dev/null & read l' <ligne & exec 3>ligne"
  mkfifo ligne
  sh -c 'cupcounter >/dev/null & read l' <ligne &
  local shell=$!
  exec {clavier}>ligne
  local orphelin='' i e
  for ((i = 0; i < 300; i++)); do
    { read -r orphelin _ <"/proc/$shell/task/$shell/children"; } 2>/dev/null ||
      orphelin=$(ps -o pid= --ppid "$shell" 2>/dev/null) || orphelin=
    orphelin=${orphelin//[[:space:]]/}
    if [[ -n $orphelin ]] && nom_de "$orphelin" e && [[ $e == cupcounter ]]; then break; fi
    orphelin=
    dormir 0.01
  done
  montrer "$shell" ${orphelin:+"$orphelin"}
  legende_etats
  moment "cupcounter ${orphelin:-?}, fils du shell $shell : ps -o pid,ppid,cmd -p ${orphelin:-?}"

  dire "La visite envoie la ligne : le shell se termine, cupcounter continue."
  commande "echo >&3"
  printf '\n' >&"$clavier"
  exec {clavier}>&-
  wait "$shell"
  rm -f ligne
  [[ -n $orphelin ]] || return 0
  for ((i = 0; i < 300; i++)); do
    e=$(etat "$orphelin") || break
    [[ ${e#* } != "$shell" ]] && break
    dormir 0.01
  done
  local parent=${e#* } adoptant='?'
  nom_de "$parent" adoptant
  montrer "$orphelin"
  dire "Son parent terminé, cupcounter a été adopté par le processus $parent ($adoptant),"
  dire "qui recueillera son code de fin. L'arbre le montre sous son nouveau parent."
  moment "orphelin $orphelin adopté par $parent : ps -o pid,ppid,cmd -p $orphelin"
  commande "kill $orphelin"
  kill "$orphelin"
}
