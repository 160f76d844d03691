# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# ordonnancement: more processes ready to run than cores, each getting its
# share, measured from their CPU times as they run; then one of them at
# nice 19 against the others at 0.
resume["ordonnancement"]="plus de processus prêts que de cœurs, chacun sa part"

# The CPU time (user + system: fields 14 and 15 of /proc/PID/stat, in clock
# ticks) and the nice value (field 19) of process $1, into variables $2 and
# $3, with no subshell.
temps_et_nice() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) } # the name may hold blanks: cut after the last ')'
  read -r -a s <<<"$s"
  printf -v "$2" '%d' $((s[11] + s[12]))
  printf -v "$3" '%d' "${s[16]}"
}

# The first two CPUs this process may run on, as taskset writes them ("0,1"),
# from the list in /proc/PID/status ("0-3,8-11").
deux_coeurs() {
  local ligne morceau debut fin pris=()
  while IFS=$' \t' read -r ligne; do
    [[ $ligne == Cpus_allowed_list:* ]] || continue
    ligne=${ligne#*:}
    IFS=, read -r -a ligne <<<"${ligne//[[:space:]]/}"
    for morceau in "${ligne[@]}"; do
      debut=${morceau%-*} fin=${morceau#*-}
      while ((debut <= fin && ${#pris[@]} < 2)); do pris+=("$debut"); debut=$((debut + 1)); done
    done
  done <"/proc/$$/status"
  (IFS=,; echo "${pris[*]}")
}

# The scheduler's weight for each nice value, from -20 to 19: each step
# down gives about 1.25 times as much.
poids_nice=(88761 71755 56483 46273 36291 29154 23254 18705 14949 11916
  9548 7620 6100 4904 3906 3121 2501 1991 1586 1277
  1024 820 655 526 423 335 272 215 172 137
  110 87 70 56 45 36 29 23 18 15)

# Ticks $1 as seconds, with a decimal comma and two digits after it.
tops_en_secondes() { centiemes $(($1 * 100 / tic_cpu)); }

# Percentages $@ in French: "31 %, 33 % et 31 %".
en_pourcents() {
  local texte="$1 %" i
  for ((i = 2; i <= $#; i++)); do
    if ((i == $#)); then texte+=" et ${!i} %"; else texte+=", ${!i} %"; fi
  done
  printf '%s' "$texte"
}

# Reads every loop's CPU time, waits $1 seconds, reads them again, and writes
# the table, under sentence $2 (where @ stands for the time measured): each
# one's CPU time at both ends, and the share of a core it got in between (CPU
# time over elapsed time), and their sum against the coeurs_mesures cores
# they may run on. The shares, in percent, are left in parts[], their sum in
# part_totale.
mesurer_parts() {
  local -a avant=() apres=() nices=()
  local i t0 t1 duree_us ticks _n
  t0=${EPOCHREALTIME/[.,]/}
  for i in "${!tourneurs[@]}"; do
    temps_et_nice "${tourneurs[i]}" "avant[i]" _n || avant[i]=0
  done
  dormir "$1"
  t1=${EPOCHREALTIME/[.,]/}
  for i in "${!tourneurs[@]}"; do
    temps_et_nice "${tourneurs[i]}" "apres[i]" "nices[i]" || { apres[i]=${avant[i]} nices[i]="?"; }
  done
  duree_us=$((t1 - t0))
  dire "${2/@/$(rapport $((duree_us / 1000)) 1000) s}"
  printf '    %7s  %4s   %s   %s\n' pid nice "temps de processeur" "part d'un cœur"
  parts=() part_totale=0
  for i in "${!tourneurs[@]}"; do
    ticks=$((apres[i] - avant[i]))
    # ticks / tic_cpu seconds over duree_us microseconds, in percent, rounded.
    parts[i]=$(((ticks * 100000000 + tic_cpu * duree_us / 2) / (tic_cpu * duree_us)))
    part_totale=$((part_totale + parts[i]))
    printf '    %7s  %4s   %6s s → %6s s%15d %%\n' "${tourneurs[i]}" "${nices[i]}" \
      "$(tops_en_secondes "${avant[i]}")" "$(tops_en_secondes "${apres[i]}")" "${parts[i]}"
  done
  printf '    %-35s%15d %% sur %d %% (%d cœur%s)\n' ensemble "$part_totale" \
    $((coeurs_mesures * 100)) "$coeurs_mesures" "$( ((coeurs_mesures > 1)) && echo s)"
  ligne_vide=0
}

etape_ordonnancement() {
  local n tous taskset_c="" i p
  tic_cpu=$(getconf CLK_TCK 2>/dev/null) || tic_cpu=100
  coeurs=$(nproc 2>/dev/null) || coeurs=1
  tous=$coeurs
  # A table row and a tree row for each loop: on a bigger machine, the loops
  # are kept on two of its cores, so that both fit the screen.
  if ((coeurs > 2)); then
    taskset_c=$(deux_coeurs)
    if command -v taskset >/dev/null && [[ $taskset_c == *,* ]]; then coeurs=2; else taskset_c=; fi
  fi
  n=$((coeurs + 1))
  coeurs_mot="$coeurs cœurs"
  ((coeurs == 1)) && coeurs_mot="1 cœur"
  coeurs_mesures=$coeurs
  # Each measure lasts a couple of seconds in class, less in the plain tour.
  local fenetre=1
  ((classe)) && fenetre=2

  dire "tourne ne fait que calculer : sa boucle ne lit rien et n'attend rien ; il"
  dire "est toujours prêt à s'exécuter."
  montrer_code demonstrations/tourne.cpp 'volatile unsigned long' 'tours = tours'
  if [[ -n $taskset_c ]]; then
    dire "Cette machine a $tous cœurs ; la visite en prend 2 (taskset) et y lance $n tourne."
    dire "L'ordonnanceur du noyau leur partage le temps : quelques millisecondes à"
    dire "chacun, tour à tour."
  else
    dire "Cette machine a $coeurs_mot ; la visite lance $n tourne. L'ordonnanceur du noyau"
    dire "leur partage le temps : quelques millisecondes à chacun, tour à tour."
  fi
  moment "$n tourne pour $coeurs_mot : quelle part d'un cœur pour chacun ?"

  local lancer="tourne &"
  [[ -n $taskset_c ]] && lancer="taskset -c $taskset_c tourne &"
  dire "La visite les lance, puis lit deux fois le temps de processeur de chacun."
  commande_suite "for i in $(seq -s ' ' 1 "$n"); do $lancer done"
  tourneurs=()
  for ((i = 0; i < n; i++)); do
    if [[ -n $taskset_c ]]; then
      taskset -c "$taskset_c" tourne &
    else
      tourne &
    fi
    tourneurs+=($!)
  done
  mesurer_parts "$fenetre" "Leur temps de processeur (/proc/PID/stat, champs 14 et 15), pendant @ :"
  local moyenne=$(((coeurs * 100 + n / 2) / n)) min=100 max=0
  for p in "${parts[@]}"; do ((p < min)) && min=$p; ((p > max)) && max=$p; done
  dire "S'ils avaient la machine à eux seuls : $coeurs_mot / $n = $moyenne % chacun, en moyenne."
  ((part_totale * 10 < coeurs * 100 * 9)) && dire "Les autres processus de la machine ont eu le reste."
  # Over a couple of seconds, one loop may keep a core to itself while the
  # others share the other one: the balancer moves them now and then.
  if ((coeurs > 1 && max - min > 15)); then
    dire "Un processus ne tourne que sur un cœur à la fois : l'un a pu en garder un"
    dire "pour lui, pendant que les autres se partageaient le reste."
  fi
  moment "$n processus pour $coeurs_mot : $(en_pourcents "${parts[@]}"). ps -o pid,ni,time -C tourne"

  local gentil=${tourneurs[0]} liste premier attendu
  liste=$(IFS=,; echo "${tourneurs[*]}")
  # On one core, so that the weights alone decide: across two, the balancer
  # may leave the nice one a core of its own (on a busy machine, often).
  premier=$(deux_coeurs)
  premier=${premier%%,*}
  command -v taskset >/dev/null || premier=
  # The loops have the tour's nice (0, unless it was started under nice):
  # 15 against its weight, for each other loop, in tenths of a percent.
  local base _t poids_base total
  temps_et_nice $$ _t base || base=0
  poids_base=${poids_nice[base + 20]}
  if ((base == 19)); then
    dire "La visite tourne à nice 19, le plus « gentil » : ses tourne aussi, et renice"
    dire "ne peut plus rien leur retirer."
    moment "nice 19 pour tous. Essayez, hors de la visite : tourne & nice -n 19 tourne &"
    arreter_tourneurs
    return 0
  fi
  total=$(((n - 1) * poids_base + 15))
  attendu=$(((15000 + total / 2) / total))
  attendu="$((attendu / 10)),$((attendu % 10))"
  dire "Le noyau partage un cœur selon le poids de chacun : 1024 à nice 0, le défaut,"
  if ((coeurs > 1)) && [[ -n $premier ]]; then
    dire "15 à nice 19, le plus « gentil ». La visite met les $n tourne sur un même cœur,"
  else
    dire "15 à nice 19, le plus « gentil ». Les $n tourne sont sur le même cœur ;"
  fi
  if ((n > 2)); then
    dire "puis $gentil à nice 19. Face aux autres, à nice $base (poids $poids_base), il devrait"
  else
    dire "puis $gentil à nice 19. Face à l'autre, à nice $base (poids $poids_base), il devrait"
  fi
  dire "avoir 15 / $total = $attendu % de leur temps :"
  if ((coeurs > 1)) && [[ -n $premier ]]; then
    commande_suite "for p in ${tourneurs[*]}; do taskset -pc $premier \$p; done >/dev/null"
    commande_suite "renice -n 19 -p $gentil >/dev/null"
    for p in "${tourneurs[@]}"; do taskset -pc "$premier" "$p" >/dev/null 2>&1; done
    coeurs_mesures=1
  else
    commande_suite "renice -n 19 -p $gentil >/dev/null"
  fi
  renice -n 19 -p "$gentil" >/dev/null 2>&1
  mesurer_parts "$fenetre" "De nouveau, pendant @ :"
  local autres gentil_part="${parts[0]} %"
  autres=$(en_pourcents "${parts[@]:1}")
  local peu="n'a plus que $gentil_part du cœur"
  if ((parts[0] == 0)); then
    gentil_part="moins de 1 %"
    peu="n'a presque plus rien (moins de 1 %)"
  fi
  dire "À nice 19, $gentil $peu ; les autres, à nice $base,"
  dire "$autres."
  local essayer="top -p $liste"
  ((${#liste} > 20)) && essayer="top"
  moment "nice 19 : $gentil_part du cœur, contre $autres. $essayer"

  arreter_tourneurs
}

arreter_tourneurs() {
  commande "kill ${tourneurs[*]}"
  kill "${tourneurs[@]}" 2>/dev/null
  { wait "${tourneurs[@]}"; } 2>/dev/null
}
