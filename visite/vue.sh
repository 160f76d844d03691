# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# The tour's live view: the tree of its processes, read from ps and /proc, and
# the tmux pane that shows it. Sourced by the tour.

# --- the tree of the tour's processes -----------------------------------------
# What tour $1 started, as a tree, from ps and /proc: pid, parent, state, CPU
# time, name. Every process shown has its real parent in the tree: the suite's
# programs, and any process between the tour and one of them. Helpers that
# lead to no program (ps, sed, cat...) are left out. An orphan the tour started
# (it carries the tour's mark, TOUR_VISITE, in its environment) is shown under
# its adopter. A zombie is marked, in red when $2 is 1. The CPU column is user
# plus system time from /proc/PID/stat; $3 is the clock ticks a second
# (getconf CLK_TCK). $4: other names to show as the suite's programs are
# (a stop's head, say).
arbre() {
  ps -e -o pid=,ppid=,stat=,comm=,args= | awk -v racine="$1" -v couleur="${2:-0}" \
      -v tic="${3:-100}" -v noms="${programmes[*]} registres_O0 ${4:-}" '
    BEGIN {
      split(noms, l, " ")
      for (k in l) programme[l[k]] = 1
    }
    {
      p = $1; pp[p] = $2; st[p] = $3; nom[p] = $4
      a = $0; sub(/^ *[0-9]+ +[0-9]+ +[^ ]+ +[^ ]+ */, "", a); args[p] = a
      enfants[$2] = enfants[$2] " " p
    }
    function cpu(p,   f, ligne, c, t) {
      f = "/proc/" p "/stat"; ligne = ""
      if ((getline ligne < f) <= 0) { close(f); return "" }
      close(f)
      sub(/.*\) /, "", ligne); split(ligne, c, " ")
      t = sprintf("%.1f", (c[12] + c[13]) / tic); sub(/\./, ",", t)
      return t
    }
    function garder(p,   liste, n, k, g) {
      dans[p] = 1
      g = (p == racine || nom[p] in programme)
      n = split(enfants[p], liste, " ")
      for (k = 1; k <= n; k++) if (garder(liste[k])) g = 1
      montre[p] = g
      return g
    }
    function ligne(p, marge, texte,   l) {
      l = sprintf("%7s %7s  %-4s %6s  %s%s", p, pp[p], st[p], cpu(p), marge, texte)
      if (st[p] ~ /^Z/) {
        l = substr(l "   <- ZOMBIE", 1, 80)
        if (couleur) l = "\033[1;31m" l "\033[0m"
      } else
        l = substr(l, 1, 80)
      print l
    }
    function nommer(p) {
      if (p == racine) return "tour (la visite)"
      if (nom[p] in programme && st[p] !~ /^Z/ && args[p] != "") return args[p]
      return nom[p]
    }
    function montrer(p, marge,   liste, n, k) {
      if (!montre[p]) return
      ligne(p, marge, nommer(p))
      n = split(enfants[p], liste, " ")
      for (k = 1; k <= n; k++) montrer(liste[k], marge "  ")
    }
    function marque(p,   f, v, oui) {
      f = "/proc/" p "/environ"; oui = 0
      while ((getline v < f) > 0) if (v == "TOUR_VISITE=" racine) oui = 1
      close(f)
      return oui
    }
    END {
      printf "%7s %7s  %-4s %6s  %s\n", "PID", "PPID", "STAT", "CPU s", "COMMANDE"
      if (!(racine in nom)) exit
      garder(racine)
      montrer(racine, "")
      RS = "\0"
      for (p in nom)
        if (nom[p] in programme && !(p in dans) && marque(p)) {
          if (!(pp[p] in adoptant)) { adoptant[pp[p]] = 1; ordre[++na] = pp[p] }
          orphelins[pp[p]] = orphelins[pp[p]] " " p
        }
      for (k = 1; k <= na; k++) {
        a = ordre[k]
        ligne(a, "", nom[a] " (adoptant)")
        n = split(orphelins[a], liste, " ")
        for (j = 1; j <= n; j++) { garder(liste[j]); montrer(liste[j], "  ") }
      }
    }'
}

# A process's start time (field 22 of /proc/PID/stat): with the pid, it tells
# the process from a later one given the same number.
depart() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) }
  read -r -a s <<<"$s"
  echo "${s[19]}"
}

# Kills every process that carries the mark of tour $1, but the tour itself.
# grep reads the environments: mapfile, in the trap of a signal that came
# during a read, makes bash 5.2 abort.
tuer_marques() {
  local environs=(/proc/[0-9]*/environ) f p
  # shellcheck disable=SC2013 # /proc's paths have no blanks, and no mapfile here
  for f in $(grep -lzx "TOUR_VISITE=$1" "${environs[@]}" 2>/dev/null); do
    p=${f#/proc/}
    p=${p%/environ}
    [[ $p == "$1" || $p == "$BASHPID" ]] || kill -KILL "$p" 2>/dev/null
  done
}

# --- the live view, in the lower tmux pane ------------------------------------
# Redraws the tree twice a second and gives the pane the height the tree needs,
# at most a third of the window. Ends with the tour; closing this pane ends the
# tour too. When the tour was killed before it could clean up, the view does.
vue() {
  local visite=$1 dossier=$2 debut tic ecran lignes hauteur=0 voulu max rangs=24 i aussi
  debut=$(depart "$visite") || exit 0
  tic=$(getconf CLK_TCK 2>/dev/null) || tic=100
  trap 'kill -USR1 "$visite" 2>/dev/null; exit 0' HUP TERM INT
  trap 'hauteur=0' WINCH
  # A pipe of its own to wait on, that nobody writes to. The tour's FIFO,
  # opened by name, would be made again as a plain file if the tour were
  # removing its folder at that moment (a hung-up tour, a slow start): the
  # folder could no longer be removed.
  exec {silence}<> <(:) || exit 0
  printf '\033[?25l'
  while [[ $(depart "$visite") == "$debut" ]]; do
    { read -r aussi <"$dossier/.aussi"; } 2>/dev/null || aussi=
    ecran=$(arbre "$visite" 1 "$tic" "$aussi")
    mapfile -t lignes <<<"$ecran"
    voulu=${#lignes[@]}
    if ((voulu != hauteur)) && [[ -n ${TMUX_PANE:-} ]]; then
      hauteur=$voulu
      max=$(tmux display-message -p -t "$TMUX_PANE" '#{window_height}' 2>/dev/null) || max=24
      max=$(((max + 2) / 3))
      ((voulu > max)) && voulu=$max
      rangs=$(tmux resize-pane -t "$TMUX_PANE" -y "$voulu" \; \
                display-message -p -t "$TMUX_PANE" '#{pane_height}' 2>/dev/null) || rangs=$voulu
    fi
    printf '\033[H'
    for ((i = 0; i < ${#lignes[@]} && i < rangs; i++)); do
      ((i > 0)) && printf '\n'
      printf '%s\033[K' "${lignes[i]}"
    done
    printf '\033[J'
    read -r -t 0.5 -u "$silence"
  done
  if [[ -d $dossier ]]; then
    tuer_marques "$visite"
    rm -rf "$dossier"
  fi
}

