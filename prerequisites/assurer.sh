# Sourced by ./tour, ./run-tests and .ci/run: makes sure the Debian packages
# of the purposes named are installed, from the one list beside this file.
#
#   assurer_prerequis build tests     installs what is missing, or says how
#   paquets_prerequis build           prints the packages of those purposes
#   prerequis_manquants ?liveview     prints those of them not installed
#
# As root, missing packages are installed at once (apt-get update, then a
# quiet, non-interactive install). As anyone else, sudo is used after saying
# what it will install, but only when someone is at the terminal to answer
# its password prompt; otherwise nothing is done, and one message names the
# exact command to run.

prerequis_liste="$(dirname "${BASH_SOURCE[0]}")/debian"

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
      echo "prérequis : usage inconnu « $but » dans $prerequis_liste" >&2
      return 2
    fi
  done | awk '!vu[$0]++'
}

prerequis_manquants() {
  local p
  for p in $(paquets_prerequis "$@"); do
    # "install ok installed" only once the package is really unpacked and configured.
    [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] ||
      printf '%s\n' "$p"
  done
}

assurer_prerequis() {
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    echo "prérequis : ce système n'a pas apt ; installez l'équivalent de ces paquets Debian :" >&2
    echo "  $(paquets_prerequis "$@" | tr '\n' ' ')" >&2
    return 0 # they may be there under other names: let the build say what lacks
  fi
  local manquants
  manquants=$(prerequis_manquants "$@") || return 2
  [[ -z $manquants ]] && return 0
  manquants=$(echo $manquants) # one line, blank-separated
  local installer="apt-get install -y -q --no-install-recommends $manquants"
  local journal
  journal=$(mktemp)
  if ((EUID == 0)); then
    echo "Installation des paquets manquants : $manquants" | fold -s -w 80
    if ! { apt-get update -q && DEBIAN_FRONTEND=noninteractive $installer; } \
        </dev/null >"$journal" 2>&1; then
      cat "$journal" >&2
      rm -f "$journal"
      echo "prérequis : l'installation a échoué (voir ci-dessus)" >&2
      return 1
    fi
  elif [[ -t 0 ]] && command -v sudo >/dev/null; then
    echo "Il manque les paquets Debian : $manquants." | fold -s -w 80
    echo "Installation par sudo : apt-get update, puis apt-get install."
    if ! { sudo apt-get update -q && sudo DEBIAN_FRONTEND=noninteractive $installer; } \
        >"$journal" 2>&1; then
      cat "$journal" >&2
      rm -f "$journal"
      echo "prérequis : l'installation a échoué (voir ci-dessus)" >&2
      return 1
    fi
  else
    rm -f "$journal"
    {
      echo "Il manque les paquets Debian : $manquants." | fold -s -w 80
      echo "Installez-les, puis relancez :"
      echo "  sudo apt-get update"
      # One command, folded with backslashes so that it still pastes whole.
      echo "sudo $installer" | fold -s -w 74 | sed 's/^/  /; $!s/ *$/ \\/'
    } >&2
    return 1
  fi
  rm -f "$journal"
  return 0
}
