#!/usr/bin/env bash
# The README's promise, tried where it matters: on a machine that has nothing.
#
# Builds a fresh Debian 12 minbase root with mmdebstrap (from this machine's
# apt sources), puts a clean clone of this repository in it, and there, as
# root, runs in turn: ./tour </dev/null, ./run-tests, ./make-package, the
# install of the .deb it made, and handover from /usr/bin becoming cupcounter.
# Prints the time of each step; the first that fails ends the run, with the
# end of its log.
#
#   bash tests/racine_neuve.sh [DIR]   (root; DIR defaults to a temporary folder)
#
# Everything runs in mount and pid namespaces of its own: when the run ends,
# the kernel ends every process started in the root and undoes every mount.
set -euo pipefail
depot=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if ((EUID != 0)); then
  echo "fresh root: needs root (mmdebstrap, chroot, mount); nothing was tried" >&2
  exit 1
fi
for outil in mmdebstrap unshare git; do
  if ! command -v "$outil" >/dev/null; then
    echo "fresh root: $outil is missing (bash .ci/run installs it from prerequisites/debian)" >&2
    exit 1
  fi
done

travail=${1:-$(mktemp -d "${TMPDIR:-/tmp}/racine-neuve.XXXXXX")}
racine=$travail/racine
journaux=$travail/journaux
mkdir -p "$journaux"
finir() {
  local code=$?
  # The namespaces are gone with their last process; only files are left.
  rm -rf "$racine"
  ((code == 0)) && rm -rf "$travail"
  exit "$code"
}
trap finir EXIT

chrono() { date +%s.%N; }
secondes() { awk -v a="$1" -v b="$(chrono)" 'BEGIN { printf "%.1f", b - a }'; }

# Runs one step: its name, then the command; on failure, the end of its log.
numero=0
etape() {
  local nom=$1 debut journal=$journaux/$((++numero)).log
  shift
  debut=$(chrono)
  if "$@" >"$journal" 2>&1 </dev/null; then
    printf '%-46s ok  %6s s\n' "$nom" "$(secondes "$debut")"
  else
    local code=$?
    printf '%-46s FAILED (status %d) after %s s; end of its log:\n' "$nom" "$code" \
      "$(secondes "$debut")"
    tail -n 40 "$journal" | sed 's/^/    /'
    exit 1
  fi
}

# This machine's apt sources, so that the root uses the mirror it is allowed.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [[ -s $f ]] && grep -q '^[^#]' "$f" && sources+=("$f")
done

echo "fresh Debian 12 root in $travail"
etape "mmdebstrap --variant=minbase bookworm" \
  mmdebstrap --variant=minbase --mode=root bookworm "$racine" "${sources[@]}"
cp /etc/resolv.conf "$racine/etc/resolv.conf"
paquets_au_depart=$(chroot "$racine" dpkg-query -W | wc -l)
etape "clean clone of the repository" git clone --quiet "$depot" "$racine/root/suite"

# One command inside the root, as root, in the clone, with nobody at the keyboard.
dans_la_racine() {
  unshare --mount --pid --fork --propagation private -- bash -c '
    set -e
    racine=$1; shift
    mount --rbind /dev "$racine/dev"
    mount -t proc proc "$racine/proc"
    mount -t sysfs sys "$racine/sys"
    exec chroot "$racine" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd /root/suite && $*"' bash "$racine" "$@"
}

etape "./tour </dev/null" dans_la_racine './tour </dev/null'
etape "./run-tests" dans_la_racine './run-tests'
etape "./make-package" dans_la_racine './make-package'
etape "apt-get install ./build-package/paquet/*.deb" \
  dans_la_racine 'apt-get install -y -q ./build-package/paquet/*.deb'
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
echo "fresh root: every step passed; Debian packages in the root: $paquets_au_depart" \
  "at first, $(chroot "$racine" dpkg-query -W | wc -l) at the end"
