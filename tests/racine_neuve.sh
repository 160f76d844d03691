#!/usr/bin/env bash
# The README's promise, tried where it matters: on a machine that has nothing.
#
# Builds a fresh Debian minbase root of the release SUITE with mmdebstrap,
# from this machine's Debian mirror, puts a clean clone of this repository in
# it, and there runs in turn:
#   - ./tour as a user without sudo: it installs nothing, prints the one
#     command for root and the command to run again, and fails;
#   - as root: ./tour </dev/null, man on a page of the repository,
#     ./run-tests, ./make-package, the install of the .deb it made, man on the
#     installed page, and handover from /usr/bin becoming cupcounter;
#   - the command printed to the user, pasted as root.
# Prints the time of each step; the first that fails ends the run, with the
# end of its log.
#
#   bash tests/racine_neuve.sh SUITE [LOGS]   (root)
#
# SUITE: bookworm, trixie, testing... The root's apt sources are written here
# for that suite, with the mirror this machine's own sources use. LOGS keeps
# one log a step (by default a temporary folder, removed when all passed).
# Everything runs in mount and pid namespaces of its own: when the run ends,
# the kernel ends every process started in the root and undoes every mount.
# The root itself is removed at the end, pass or fail.
set -euo pipefail
depot=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if (($# < 1 || $# > 2)); then
  echo "usage: bash tests/racine_neuve.sh SUITE [LOGS]   (SUITE: bookworm, trixie...)" >&2
  exit 2
fi
suite=$1
if ((EUID != 0)); then
  echo "fresh root: needs root (mmdebstrap, chroot, mount); nothing was tried" >&2
  exit 1
fi
for outil in mmdebstrap unshare mount chroot git; do
  if ! command -v "$outil" >/dev/null; then
    echo "fresh root: $outil is missing (its package is under freshroot in prerequisites/debian)" >&2
    exit 1
  fi
done

# --- this machine's mirror -----------------------------------------------------
# Every (URI, suite) pair of the enabled "deb" sources, one-line and deb822.
sources_de_l_hote() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -s $f ]] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk '$1 == "deb" && NF >= 3 { print $2, $3 }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -s $f ]] || continue
    awk '
      function fin() {
        if (deb && actif)
          for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) print uris[i], suites[j]
        deb = 0; actif = 1; nu = ns = 0
      }
      BEGIN { actif = 1 }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { fin(); next }
      { champ = tolower($1) }
      champ == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      champ == "enabled:" { actif = tolower($2) != "no" }
      champ == "uris:" { for (i = 2; i <= NF; i++) uris[++nu] = $i }
      champ == "suites:" { for (i = 2; i <= NF; i++) suites[++ns] = $i }
      END { fin() }' "$f"
  done
}
# The Debian archive is the URI that serves this machine's own release (or
# that ends in /debian); its security archive serves RELEASE-security (or
# ends in /debian-security).
version_hote=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
read -r miroir miroir_securite < <(sources_de_l_hote | awk -v v="$version_hote" '
  $1 !~ /^https?:\/\// { next }
  !m && (($2 == v && v != "") || $1 ~ /\/debian\/?$/) { m = $1 }
  !s && ($2 == v "-security" || $1 ~ /\/debian-security\/?$/) { s = $1 }
  END { print (m ? m : "-"), (s ? s : "-") }')
if [[ $miroir == - ]]; then
  echo "fresh root: no Debian mirror (http or https) in this machine's apt sources" >&2
  exit 1
fi
# The root's own sources: the suite, its updates and security ones when it is
# a release (testing has no updates, unstable neither nor security).
sources=("deb $miroir $suite main")
case $suite in
  sid | unstable) ;;
  testing) [[ $miroir_securite != - ]] && sources+=("deb $miroir_securite $suite-security main") ;;
  *)
    sources+=("deb $miroir $suite-updates main")
    [[ $miroir_securite != - ]] && sources+=("deb $miroir_securite $suite-security main")
    ;;
esac
# The apt settings this machine needs to reach that mirror go along (a proxy,
# a mirror frozen in time whose Release files have expired).
options_apt=()
for cle in Acquire::http::Proxy Acquire::https::Proxy Acquire::Check-Valid-Until \
           Acquire::Check-Date; do
  valeur=$(apt-config dump --no-empty "$cle" 2>/dev/null | sed -n "s/^$cle \(\".*\"\);\$/\1/p")
  [[ -n $valeur ]] && options_apt+=("--aptopt=$cle $valeur")
done

# --- the run --------------------------------------------------------------------
travail=$(mktemp -d "${TMPDIR:-/tmp}/racine-neuve.XXXXXX")
racine=$travail/racine
journaux_donnes=${2:-}
journaux=${journaux_donnes:-$travail/journaux}
mkdir -p "$journaux"
finir() {
  local code=$?
  # The namespaces are gone with their last process; only files are left.
  rm -rf "$racine"
  if ((code == 0)) || [[ -n $journaux_donnes ]]; then rm -rf "$travail"; fi
  exit "$code"
}
trap finir EXIT

chrono() { date +%s.%N; }
secondes() { awk -v a="$1" -v b="$(chrono)" 'BEGIN { printf "%.1f", b - a }'; }

# Runs one step: its name, then the command; on failure, the end of its log.
numero=0
etape() {
  local nom=$1 debut journal
  ((++numero))
  journal=$journaux/$(printf '%02d' "$numero").log
  shift
  debut=$(chrono)
  if "$@" >"$journal" 2>&1 </dev/null; then
    printf '%-50s ok  %6s s\n' "$nom" "$(secondes "$debut")"
  else
    local code=$?
    printf '%-50s FAILED (status %d) after %s s; end of its log (%s):\n' "$nom" "$code" \
      "$(secondes "$debut")" "$journal"
    tail -n 40 "$journal" | sed 's/^/    /'
    exit 1
  fi
}

echo "fresh Debian root: $suite, from $miroir; logs in $journaux"
printf '  %s\n' "${sources[@]}"
etape "mmdebstrap --variant=minbase $suite" \
  mmdebstrap --variant=minbase --mode=root "${options_apt[@]}" "$suite" "$racine" "${sources[@]}"
cp /etc/resolv.conf "$racine/etc/resolv.conf"
paquets_au_depart=$(chroot "$racine" dpkg-query -W | wc -l)
echo "  $(sed -n 's/^PRETTY_NAME="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$racine/etc/os-release"), $paquets_au_depart packages"
etape "clean clone of the repository" git clone --quiet "$depot" "$racine/root/suite"

# One command inside the root, in the clone, with nobody at the keyboard:
# as root, or as the user eleve with "--eleve" first.
dans_la_racine() {
  local qui=root
  [[ $1 == --eleve ]] && { qui=eleve; shift; }
  # shellcheck disable=SC2016 # expanded by the bash inside the namespaces
  unshare --mount --pid --fork --kill-child --propagation private -- bash -c '
    set -e
    racine=$1 qui=$2; shift 2
    mount --rbind /dev "$racine/dev"
    mount -t proc proc "$racine/proc"
    mount -t sysfs sys "$racine/sys"
    dossier=/root/suite maison=/root
    [[ $qui == eleve ]] && dossier=/home/eleve/suite maison=/home/eleve
    exec chroot "$racine" setpriv --reuid="$qui" --regid="$qui" --init-groups \
      /usr/bin/env -i HOME=$maison TERM=dumb LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd $dossier && $*"' bash "$racine" "$qui" "$@"
}

# A student's account, without sudo (minbase has none): the tour must install
# nothing, and say what root types and what to run again.
chroot "$racine" useradd --create-home eleve
git clone --quiet "$depot" "$racine/home/eleve/suite"
chroot "$racine" chown -R eleve: /home/eleve/suite
sans_sudo() {
  local sortie code=0
  sortie=$(dans_la_racine --eleve './tour 2>&1') || code=$?
  printf '%s\n' "$sortie"
  echo "(status $code)"
  ((code == 1)) && ! [[ -e $racine/home/eleve/suite/build ]] &&
    grep -q "^  su -c 'apt-get update && apt-get install" <<<"$sortie" &&
    grep -qx '  ./tour' <<<"$sortie"
}
etape "./tour as a user without sudo prints the command" sans_sudo
commande_imprimee=$journaux/$(printf '%02d' "$numero").log

etape "./tour </dev/null" dans_la_racine './tour </dev/null'
etape "man -l man/man1/genreport.1 after ./tour" \
  dans_la_racine 'man -l man/man1/genreport.1 | grep -q "genreport"'
etape "./run-tests" dans_la_racine './run-tests'
etape "./make-package" dans_la_racine './make-package'
etape "apt-get install ./build-package/paquet/*.deb" \
  dans_la_racine 'apt-get install -y -q ./build-package/paquet/*.deb'
etape "man handover (installed page)" dans_la_racine 'man handover | grep -q cupcounter'
# shellcheck disable=SC2016 # expanded in the root
etape "handover from /usr/bin becomes cupcounter" dans_la_racine '
  cd /tmp
  [[ $(command -v handover) == /usr/bin/handover ]]
  handover >sortie &
  pid=$!
  for ((i = 0; i < 300; i++)); do [[ -s sortie ]] && break; sleep 0.01; done
  ligne=$(head -n 1 sortie)
  exe=$(readlink /proc/$pid/exe)
  kill $pid
  echo "$ligne ($exe)"
  [[ $ligne == "pid : $pid, cup number 0" && $exe == /usr/bin/cupcounter ]]'
# The command printed to the student, pasted whole as root (su asks root
# nothing): apt accepts it, and everything is there.
awk '/^  su -c / { dedans = 1 } dedans { print; if (!/\\$/) exit }' "$commande_imprimee" \
  >"$racine/root/commande"
etape "the printed command, pasted as root" dans_la_racine 'cat ~/commande; bash ~/commande'
echo "fresh root ($suite): every step passed; Debian packages in the root:" \
  "$paquets_au_depart at first, $(chroot "$racine" dpkg-query -W | wc -l) at the end"
