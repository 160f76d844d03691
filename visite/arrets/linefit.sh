# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# linefit: a silent program, and the machine's cache lines.
resume["linefit"]="un programme muet, et les lignes de cache de la machine"

# When the libc's L3 (getconf, from the processor's cpuid) is not the
# kernel's (/sys, which montagne reads), says both and why they may differ.
desaccord_l3() {
  local libc noyau f
  libc=$(getconf LEVEL3_CACHE_SIZE 2>/dev/null) || return 0
  for f in /sys/devices/system/cpu/cpu0/cache/index*; do
    [[ $(cat "$f/level" 2>/dev/null) == 3 ]] && noyau=$(cat "$f/size")
  done
  [[ -n ${noyau:-} && $libc =~ ^[0-9]+$ ]] || return 0
  noyau=${noyau%K}
  ((libc / 1024 == noyau)) && return 0
  dire "L3 : $((libc / 1048576)) Mio pour getconf, $((noyau / 1024)) Mio pour le noyau (/sys, que lit"
  dire "montagne). getconf répète ce que la libc lit du processeur (cpuid), le noyau"
  dire "ce que partage ce cœur ; une machine virtuelle annonce souvent la puce entière."
}

etape_linefit() {
  dire "linefit contient une fonction qui dit combien d'entiers tiennent dans une"
  dire "ligne de cache, mais son main ne l'appelle jamais : il rend 0 sans rien écrire."
  montrer_code measures/linefit.cpp '^int main' '^}'
  moment "prédisez : qu'écrit linefit, et avec quel code ?"
  commande 'linefit; echo "code $?"'
  linefit 2>&1 | indenter
  dire "    code ${PIPESTATUS[0]}"
  dire "Les lignes de cache de cette machine, telles que le système les donne :"
  if command -v getconf >/dev/null; then
    commande "getconf -a | grep -E 'LEVEL[123]_D?CACHE_(LINE)?SIZE'"
    getconf -a | grep -E 'LEVEL[123]_D?CACHE_(LINE)?SIZE' | indenter
    desaccord_l3
  else
    commande "grep . /sys/devices/system/cpu/cpu0/cache/index*/coherency_line_size"
    grep . /sys/devices/system/cpu/cpu0/cache/index*/coherency_line_size | indenter
  fi
  moment "linefit n'écrit rien. Essayez : getconf -a | grep CACHE"
}
