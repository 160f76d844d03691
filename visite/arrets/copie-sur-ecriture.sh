# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# copie-sur-ecriture: after fork, parent and child share their memory until
# one of them writes; then only the pages written are copied, one by one.
resume["copie-sur-ecriture"]="après fork, la mémoire partagée jusqu'à l'écriture"

# What /proc says of process $1's memory, in KiB, summed over all its
# mappings: resident (Rss), shared with another process, private, and its
# share (Pss, each shared page counted for 1/n); and its minor page faults
# (field 10 of /proc/PID/stat). Into mem_rss, mem_partagee, mem_privee,
# mem_pss and mem_defauts, with no subshell. smaps_rollup gives the sums; an
# older kernel has only smaps, one block of the same lines per mapping.
memoire_de() {
  local fichier=/proc/$1/smaps_rollup cle valeur _ s
  [[ -r $fichier ]] || fichier=/proc/$1/smaps
  mem_rss=0 mem_partagee=0 mem_privee=0 mem_pss=0 mem_defauts="?"
  while read -r cle valeur _; do
    case $cle in
      Rss:) mem_rss=$((mem_rss + valeur)) ;;
      Pss:) mem_pss=$((mem_pss + valeur)) ;;
      Shared_Clean: | Shared_Dirty:) mem_partagee=$((mem_partagee + valeur)) ;;
      Private_Clean: | Private_Dirty:) mem_privee=$((mem_privee + valeur)) ;;
    esac
  done <"$fichier" 2>/dev/null
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) } # the name may hold blanks: cut after the last ')'
  read -r -a s <<<"$s"
  mem_defauts=${s[7]}
}

# KiB $1 as MiB, with one decimal and a decimal comma.
en_mio() { local d=$((($1 * 10 + 512) / 1024)); printf '%d,%d' $((d / 10)) $((d % 10)); }

# The table of the two processes' memory, father then son; what it read is
# left in pere_* and fils_* (KiB, faults).
table_memoire() {
  # Widths count bytes: the accented words are laid out by hand.
  printf '    %12s %6s  partagée  privée %7s  défauts de page\n' "" Rss Pss
  local qui pid
  for qui in pere fils; do
    pid=${qui}_pid
    memoire_de "${!pid}"
    printf -v "${qui}_privee" '%d' "$mem_privee"
    printf -v "${qui}_pss" '%d' "$mem_pss"
    printf -v "${qui}_defauts" '%s' "$mem_defauts"
    printf '    %s %-7s %6s %9s %7s %7s %16s\n' "${qui/pere/père}" "${!pid}" "$(en_mio "$mem_rss")" \
      "$(en_mio "$mem_partagee")" "$(en_mio "$mem_privee")" "$(en_mio "$mem_pss")" "$mem_defauts"
  done
  ligne_vide=0
}

etape_copie-sur-ecriture() {
  local page_ko
  page_ko=$(($(getconf PAGESIZE 2>/dev/null || echo 4096) / 1024))
  dire "partage écrit dans chaque page d'un tampon de 64 Mio, puis appelle fork :"
  montrer_code demonstrations/partage.cpp 'for \(long i = 0; i < taille;' 'fork\(\)'
  dire "Le fils attend une ligne avant d'écrire à son tour."
  moment "après fork, le fils a-t-il 64 Mio à lui ? fork les a-t-il copiés ?"

  dire "Son entrée est un tube que tient la visite :"
  commande_suite "mkfifo ligne; partage <ligne >sortie & exec 3>ligne; cat sortie"
  mkfifo ligne
  partage <ligne >sortie &
  pere_pid=$!
  exec {clavier}>ligne
  attendre_texte sortie 30 "le fils, pid " || true
  indenter <sortie
  fils_pid=$(sed -n 's/^le fils, pid \([0-9]*\).*/\1/p' sortie)
  if [[ -z $fils_pid ]]; then
    dire "partage n'a pas pu faire son fork."
    exec {clavier}>&-
    { wait "$pere_pid"; } 2>/dev/null
    rm -f ligne sortie
    return 0
  fi
  dire "Leur mémoire (/proc/PID/smaps_rollup, en Mio), leurs défauts de page (stat) :"
  table_memoire
  local avant_privee=$fils_privee avant_defauts=$fils_defauts avant_pss=$((pere_pss + fils_pss))
  dire "64 Mio chez chacun, mais les mêmes : fork n'a rien copié, il a marqué les"
  dire "pages en lecture seule chez l'un et l'autre, qui les partagent ($fils_defauts défauts"
  dire "de page chez le fils). Pss compte une page partagée par deux pour moitié."
  moment "64 Mio partagés : grep -E '^(Rss|Pss|Sha|Pri)' /proc/$fils_pid/smaps_rollup"

  dire "La visite envoie la ligne : le fils écrit un octet dans chaque page de la"
  dire "première moitié du tampon :"
  montrer_code demonstrations/partage.cpp 'for \(long i = 0; i < taille / 2' 'tampon\[i\] = 2'
  commande "echo >&3"
  printf '\n' >&"$clavier"
  attendre_texte sortie 50 "la moitié du tampon" || true
  sed -n '/la moitié du tampon/p' sortie | indenter
  table_memoire
  local pages=$(((fils_privee - avant_privee) / page_ko)) defauts=$((fils_defauts - avant_defauts))
  dire "Chez le fils, $pages pages privées de plus ($(en_mio $((fils_privee - avant_privee))) Mio) et $defauts défauts de"
  dire "page : à la première écriture dans chacune, le noyau l'a copiée pour lui seul."
  dire "Le père n'a rien écrit, mais ces pages-là ne sont plus qu'à lui : privées"
  dire "aussi. À eux deux, Pss $(en_mio $((pere_pss + fils_pss))) Mio au lieu de $(en_mio "$avant_pss")."
  moment "$pages pages copiées, $defauts défauts : cut -d' ' -f10 /proc/$fils_pid/stat"

  dire "Une autre ligne : le fils finit, puis le père, qui l'attendait."
  commande "echo >&3"
  printf '\n' >&"$clavier"
  exec {clavier}>&-
  wait "$pere_pid"
  sed -n '/^le père a recueilli/p' sortie | indenter
  rm -f ligne sortie
}
