# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# What every stop of the tour uses to write and to wait. Sourced by the tour.

# --- small tools -------------------------------------------------------------
# One rule: explanations at the margin, commands two columns in after "$",
# what the programs write four columns in.
# In class, each stop opens on a clear screen.
titre() {
  ligne_vide=0
  if ((classe && au_terminal)); then printf '\033[H\033[2J\033[3J'; else printf '\n'; fi
  printf '%s=== %s : %s ===%s\n' "$gras" "$1" "${resume[$1]}" "$normal"
}
dire() { ligne_vide=0; printf '%s\n' "$*"; }
commande() { ligne_vide=0; printf '\n  $ %s\n' "$1"; shift; local suite; for suite; do printf '  > %s\n' "$suite"; done; }
# The same, right under the sentence that announces it (no empty line).
commande_suite() { ligne_vide=0; printf '  $ %s\n' "$1"; }
indenter() { ligne_vide=0; local l; while IFS= read -r l || [[ -n $l ]]; do printf '    %s\n' "$l"; done; }

# A pause that starts no process (sleep would be one, seen in the tree): a
# bounded read of a pipe nobody writes to.
dormir() { read -r -t "$1" <>"$tmp/.silence"; }

# Waits for a key. q ends the tour; any other key goes on, unless $2 is
# q_seul. What was typed ahead, and in the 0.3 s after the prompt (a double
# Enter), is dropped. $1, when given, is called at each round of the wait (five
# a second); when it returns 1, the wait ends. Without $1 the read has no time
# limit: a key that comes as a time limit expires could be lost.
touche() {
  local suivre=${1:-} seul_q=${2:-} t r debut=${EPOCHREALTIME/[.,]/}
  while :; do
    t=
    if [[ -n $suivre ]]; then
      "$suivre" || return 0
      IFS= read -r -s -n 1 -t 0.2 t
    else
      IFS= read -r -s -n 1 t
    fi
    r=$?
    # A time limit that expires keeps what was read meanwhile, if anything.
    ((r > 128)) && [[ -z $t ]] && continue
    # End of file or error: the terminal is gone.
    ((r == 0 || r > 128)) || { mot_de_la_fin="Visite interrompue : son terminal a disparu."; exit 129; }
    ((${EPOCHREALTIME/[.,]/} - debut < 300000)) && continue
    [[ $t == [qQ] ]] && finir 0 "Fin de la visite."
    [[ -z $seul_q ]] && return 0
  done
}

# In class: stop on what lives right now, and say what to type to see it from
# another terminal. After the key, the tour's screen starts again at the top.
# $2: a function for touche, which keeps the line above the prompt up to date.
invite='  (Entrée : on continue ; q : fin de la visite) '
moment() {
  ((classe)) || { printf '\n'; ligne_vide=1; return 0; }
  printf '\n%s» %s%s\n' "$gras" "$1" "$normal"
  [[ -n ${2:-} ]] && printf '\n' # the line $2 keeps up to date
  printf '%s' "$invite"
  touche "${2:-}"
  ((au_terminal)) && printf '\033[H\033[2J\033[3J'
}

# The live tree shows the suite's programs; these names too, for the stop
# that calls this (no name: none).
arbre_montre() { printf '%s\n' "$*" >"$tmp/.aussi"; }

# Waits (at most $2 tenths of a second) for file $1 to hold pattern $3.
attendre_texte() {
  local fichier=$1 dixiemes=$2 motif=$3 i
  for ((i = 0; i < dixiemes * 10; i++)); do
    [[ -f $fichier && $(<"$fichier") == *$motif* ]] && return 0
    dormir 0.01
  done
  return 1
}

# A process's state letter, into variable $2, with no subshell (the loop that
# catches handover needs it fast).
lettre_etat() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) }
  printf -v "$2" '%s' "${s:0:1}"
}

# A process's state letter and parent, from /proc/PID/stat.
etat() {
  local stat e pp _
  { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
  stat=${stat##*) }   # the name may hold blanks: cut after the last ')'
  read -r e pp _ <<<"$stat"
  echo "$e $pp"
}

# A process's name (/proc/PID/comm), into variable $2.
nom_de() { { read -r "$2" <"/proc/$1/comm"; } 2>/dev/null; }

# What ps shows of the processes given, or /proc when ps is missing; the
# command comes right under the sentence that announces it.
if command -v ps >/dev/null; then
  montrer() {
    local liste; liste=$(IFS=,; echo "$*")
    commande_suite "ps -o pid,ppid,stat,cmd -p $liste"
    ps -o pid,ppid,stat,cmd -p "$liste" | indenter
  }
else
  montrer() {
    local fichiers=() p
    for p in "$@"; do fichiers+=("/proc/$p/stat"); done
    commande_suite "cut -d' ' -f1-4 ${fichiers[*]}"
    cut -d' ' -f1-4 "${fichiers[@]}" 2>/dev/null | indenter
  }
fi

# What the letters of ps's STAT column mean, as the tree and ps show them
# (S<Ll, T+): said once in the tour, at the first stop that calls this.
legende_etats() {
  ((${legende_dite:-0})) && return 0
  legende_dite=1
  dire "La colonne STAT : R prêt ou sur un cœur, S endormi (il attend), T suspendu,"
  dire "Z zombie ; et après : < priorité haute, N basse, l plusieurs threads,"
  dire "L pages verrouillées en mémoire, s chef de session, + au premier plan."
}

# Seconds since timestamp $1 ("seconds.microseconds"), up to now or to
# timestamp $2, with a decimal comma and one digit after it.
depuis() {
  local a=${2:-$EPOCHREALTIME} b=${1/[.,]/} d
  a=${a/[.,]/}
  d=$(((a - b) / 100000))
  printf '%d,%d' $((d / 10)) $((d % 10))
}

# Reads $2 lines from descriptor $1, each with its time of arrival since
# timestamp $3.
lignes_horodatees() {
  local l i
  for ((i = 0; i < $2; i++)); do
    IFS= read -r -t 3 l <&"$1" || break
    printf '    [+%s s] %s\n' "$(depuis "$3")" "$l"
  done
}


# The CPU time (user) of the tour's reaped children so far, in hundredths of
# a second, into variable $1 (a command substitution would count its own): what time's "user" line gives a single command, from bash's own
# count (times), with no process started.
cpu_des_fils() {
  local _ fils m s
  times >"$tmp/.temps" # in this shell: a subshell's children are not these
  { read -r _ _; read -r fils _; } <"$tmp/.temps"
  m=${fils%%m*} s=${fils#*m}
  s=${s%s}
  s=${s/[.,]/}
  printf -v "$1" '%d' $((10#$m * 6000 + 10#$s / 10))
}

# Hundredths $1 as seconds with a decimal comma: 290 -> 2,90.
centiemes() { printf '%d,%02d' $(($1 / 100)) $(($1 % 100)); }

# $1 / $2, with one decimal and a decimal comma.
rapport() { local d=$(($1 * 10 / $2)); printf '%d,%d' $((d / 10)) $((d % 10)); }

# --- the code behind a stop ----------------------------------------------------
# montrer_code FICHIER DEBUT FIN: the lines of FICHIER, a source of the suite
# named from the source root (process_creation/keyhold1.cpp), from the first
# one that matches the extended regex DEBUT to the first one after it that
# matches FIN, headed by the file's name and lines, without their common
# indentation nor their comments (written for the suite's developers, in
# English): what the program does, for students to predict what comes. Read
# from the repository the tour runs from, or from the sources the package
# installs beside the programs (share/processus-en-direct). When the lines
# cannot be found, says so in one line and returns 1.
montrer_code() {
  local fichier=$1 debut=$2 fin=$3 chemin='' d
  for d in "$racine" "$bin/../share/processus-en-direct"; do
    [[ -f $d/$fichier ]] && { chemin=$d/$fichier; break; }
  done
  ligne_vide=0
  if [[ -z $chemin ]] ||
     ! debut=$debut fin=$fin awk -v nom="$fichier" -v nb=$'\u00a0' '
      BEGIN { debut = ENVIRON["debut"]; fin = ENVIRON["fin"] }
      !premiere && $0 ~ debut { premiere = NR }
      premiere {
        l = $0
        if (NR > premiere && l ~ fin) derniere = NR
        if (l ~ /^[ \t]*\/\//) { if (derniere) exit; next }
        sub(/[ \t]+\/\/ .*$/, "", l)
        lignes[++n] = l
        if (l ~ /[^ \t]/) {
          match(l, /^[ \t]*/)
          if (marge == "" || RLENGTH < marge) marge = RLENGTH
        }
        if (derniere) exit
      }
      END {
        if (!derniere) exit 1
        printf "  %s, lignes %d à %d%s:\n", nom, premiere, derniere, nb
        for (k = 1; k <= n; k++)
          if (lignes[k] ~ /[^ \t]/) printf "    %s\n", substr(lignes[k], marge + 1)
          else print ""
      }' "$chemin"; then
    printf '  (%s\u00a0: lignes introuvables)\n' "$fichier"
    return 1
  fi
}
