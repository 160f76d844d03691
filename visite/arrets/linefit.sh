# shellcheck shell=bash
# linefit: a silent program, and the machine's cache lines.
resume[linefit]="un programme muet, et les lignes de cache de la machine"

etape_linefit() {
  dire "linefit contient une fonction qui dit combien d'entiers tiennent dans une"
  dire "ligne de cache, mais son main ne l'appelle jamais : il rend 0 sans rien écrire."
  commande 'linefit; echo "code $?"'
  linefit 2>&1 | indenter
  dire "    code ${PIPESTATUS[0]}"
  dire "Les lignes de cache de cette machine, telles que le système les donne :"
  if command -v getconf >/dev/null; then
    commande "getconf -a | grep -E 'LEVEL[123]_D?CACHE_(LINE)?SIZE'"
    getconf -a | grep -E 'LEVEL[123]_D?CACHE_(LINE)?SIZE' | indenter
  else
    commande "grep . /sys/devices/system/cpu/cpu0/cache/index*/coherency_line_size"
    grep . /sys/devices/system/cpu/cpu0/cache/index*/coherency_line_size | indenter
  fi
  moment "linefit n'écrit rien. Essayez : getconf -a | grep CACHE"
}
