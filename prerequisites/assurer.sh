# shellcheck shell=bash
# Sourced by ./tour, ./run-tests, ./make-package and .ci/run: makes sure the
# Debian packages of the purposes named are installed, from the one list
# beside this file.
#
#   assurer_prerequis build tests     installs what is missing, or says how
#   paquets_prerequis build           prints the packages of those purposes
#   prerequis_manquants ?liveview     prints those of them not installed
#
# A package counts as installed when it is, or when an installed package
# provides its name (a virtual or transitional name, e.g. qemu-user-static
# provided by qemu-user).
#
# As root, missing packages are installed at once (apt-get update, then a
# quiet, non-interactive install). As anyone else, sudo is used when it is
# usable: without a password, or with someone at the terminal to type it.
# Otherwise (no sudo, sudo refuses, nobody to type the password) nothing is
# done: one message names the single command an administrator runs as root,
# then the command to run again, and the call fails.

prerequis_liste="$(dirname "${BASH_SOURCE[0]}")/debian"
# Sourced without arguments, this file sees those of the script that sources
# it: the command to run again once an administrator has installed the rest.
prerequis_relance=$(printf '%q' "$0")
[[ -f $0 && ! -x $0 ]] && prerequis_relance="bash $prerequis_relance"
(($#)) && prerequis_relance+=$(printf ' %q' "$@")

paquets_prerequis() {
  local but
  for but in "$@"; do
    local trouve=0 mot nom
    while read -r nom reste; do
      [[ $nom == "$but:" ]] || continue
      trouve=1
      for mot in $reste; do printf '%s\n' "$mot"; done
    done <"$prerequis_liste"
    if ((!trouve)); then
      echo "prérequis : usage inconnu « $but » dans $prerequis_liste" >&2
      return 2
    fi
  done | awk '!vu[$0]++'
}

prerequis_manquants() {
  local voulus
  voulus=$(paquets_prerequis "$@") || return 2
  # One look at dpkg's database: the packages installed (unpacked and
  # configured: "ii", or "hi" when held) and every name they provide.
  dpkg-query -W -f='${Package}\t${db:Status-Abbrev}\t${Provides}\n' 2>/dev/null |
    awk -F'\t' -v voulus="$voulus" '
      $2 ~ /^.i/ {
        present[$1] = 1
        n = split($3, fournis, ",")
        for (k = 1; k <= n; k++) {
          nom = fournis[k]
          sub(/^ +/, "", nom)
          sub(/[ :(].*/, "", nom)   # "name (= version)", "name:any"
          present[nom] = 1
        }
      }
      END {
        n = split(voulus, v, "\n")
        for (k = 1; k <= n; k++) if (v[k] != "" && !(v[k] in present)) print v[k]
      }'
}

# Succeeds when sudo can install here: without a password, or once the person
# at the terminal has typed theirs. Otherwise says why in prerequis_pourquoi.
prerequis_sudo_utilisable() {
  if ! command -v sudo >/dev/null; then
    prerequis_pourquoi="sudo n'est pas installé sur cette machine."
    return 1
  fi
  sudo -n true 2>/dev/null && return 0
  if ! { : </dev/tty; } 2>/dev/null; then
    prerequis_pourquoi="sudo demande un mot de passe, et personne n'est là pour le taper."
    return 1
  fi
  if ! sudo -v; then
    prerequis_pourquoi="sudo refuse : ce compte ne peut pas installer de paquets."
    return 1
  fi
}

assurer_prerequis() {
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    echo "prérequis : ce système n'a pas apt ; installez l'équivalent de ces" >&2
    echo "paquets Debian :" >&2
    echo "  $(paquets_prerequis "$@" | tr '\n' ' ')" >&2
    return 0 # they may be there under other names: let the build say what lacks
  fi
  local manquants
  manquants=$(prerequis_manquants "$@") || return 2
  [[ -z $manquants ]] && return 0
  manquants=$(xargs <<<"$manquants") # one line, blank-separated
  local paquets
  read -ra paquets <<<"$manquants"
  local installer=(apt-get install -y -q --no-install-recommends "${paquets[@]}")
  local il_manque="Il manque les paquets Debian : $manquants."
  echo "$il_manque" | fold -s -w 80 | sed "s/ *$//" >&2
  local sudo=() prerequis_pourquoi
  if ((EUID != 0)); then
    if ! prerequis_sudo_utilisable; then
      {
        echo "$prerequis_pourquoi"
        echo "Un administrateur les installe par cette seule commande (su demande le mot"
        echo "de passe de root) :"
        # Folded with backslashes, which the shell started by su joins again:
        # it still pastes whole.
        echo "su -c 'apt-get update && apt-get install -y --no-install-recommends $manquants'" | fold -s -w 72 |
          sed 's/^/  /; $!s/ *$/ \\/'
        echo "Puis relancez :"
        echo "  $prerequis_relance"
      } >&2
      return 1
    fi
    sudo=(sudo)
  fi
  echo "Installation : apt-get update, puis apt-get install${sudo:+ (par sudo)}."
  local journal
  journal=$(mktemp)
  if ! { "${sudo[@]}" apt-get update -q &&
         "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${installer[@]}"; } \
      </dev/null >"$journal" 2>&1; then
    cat "$journal" >&2
    rm -f "$journal"
    echo "prérequis : l'installation a échoué (voir ci-dessus)" >&2
    return 1
  fi
  rm -f "$journal"
  return 0
}
