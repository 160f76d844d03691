#!/usr/bin/env bash
# Checks the Debian package built by `cmake --workflow --preset package`:
# Debian's own checker finds no error and no warning in it, it holds every
# program of the suite (the file programmes) in /usr/bin with its manual page,
# and the demonstrations' sources; handover from the extracted tree becomes the
# extracted cupcounter; the package unpacked in a home folder, without root,
# works.
set -euo pipefail
racine=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
paquets=${1:-build-package/paquet}
deb=$(ls "$paquets"/processus-en-direct_*.deb)
enseignant=$(ls "$paquets"/processus-en-direct-enseignant_*.deb)
dossier=$(mktemp -d)
pid=
finir() {
  local code=$?
  if [[ -n $pid ]]; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$dossier"
  exit "$code"
}
trap finir EXIT

if ! command -v lintian >/dev/null; then
  echo "lintian is missing: install the Debian package lintian" >&2
  exit 1
fi
lintian_dit=$(lintian --fail-on error,warning "$deb" "$enseignant" 2>&1) && lintian_ok=1 || lintian_ok=0
printf '%s\n' "$lintian_dit" | grep -v '^running with root privileges' || true
if ((!lintian_ok)); then
  echo "lintian finds errors or warnings in the package"
  exit 1
fi
echo "lintian: no error, no warning"

dpkg-deb -x "$deb" "$dossier"
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Depends Maintainer Section

manque=0
programmes=$(sed -n 's/^[a-z]*://p' "$racine/programmes")
for p in $programmes; do
  [[ -x $dossier/usr/bin/$p ]] || { echo "missing program: /usr/bin/$p"; manque=1; }
  [[ -f $dossier/usr/share/man/man1/$p.1.gz ]] || { echo "missing page: $p.1.gz"; manque=1; }
done
# verifier compiles a student's source with the failure report; each
# exercise of the list has its folder: statement, handout, starting files.
fichiers=(common/signaler_echec.h common/signaler_echec.cpp exercices/enonces.pdf)
[[ -L $dossier/usr/bin/visite-processus && -f $dossier/usr/share/man/man1/visite-processus.1.gz ]] ||
  { echo "missing: the tour, visite-processus, or its page"; manque=1; }
[[ -f $dossier/usr/share/man/man7/processus-en-direct.7.gz ]] || { echo "missing page: processus-en-direct.7.gz"; manque=1; }
mapfile -t exercices < <(grep -E '^[a-z]' "$racine/exercices/liste")
for e in "${exercices[@]}"; do
  fichiers+=("exercices/$e/enonce.md" "exercices/$e/enonce.pdf")
  mapfile -t departs < <(grep -sE '^[^#]' "$racine/exercices/$e/depart")
  for f in "${departs[@]}"; do
    fichiers+=("exercices/$e/$(basename "$f")")
  done
done
for f in "${fichiers[@]}"; do
  [[ -f $dossier/usr/share/processus-en-direct/$f ]] || { echo "missing: $f"; manque=1; }
done
# The demonstration programs' own sources, which the tour shows excerpts of.
read -ra montres <<<"$(sed -n 's/^\(dix\|demonstrations\)://p' "$racine/programmes" | tr '\n' ' ')"
for p in "${montres[@]}"; do
  compgen -G "$dossier/usr/share/processus-en-direct/*/$p.cpp" >/dev/null ||
    { echo "missing source: $p.cpp"; manque=1; }
done
# The teachers' material is in their package, and nowhere in the students'.
if find "$dossier" -name 'solution.*' -o -name erreurs -o -name variantes | grep -q .; then
  echo "the students' package holds teachers' material"
  manque=1
fi
dpkg-deb -x "$enseignant" "$dossier/enseignant"
materiel=$dossier/enseignant/usr/share/processus-en-direct-enseignant
[[ -f $materiel/plan-de-tp.md ]] || { echo "missing: the lab plan"; manque=1; }
for e in "${exercices[@]}"; do
  ls "$materiel/exercices/$e"/solution.* >/dev/null 2>&1 || { echo "missing: $e's solution"; manque=1; }
done
((manque == 0))

# handover, found in the package, must become the package's cupcounter.
PATH="$dossier/usr/bin" "$dossier/usr/bin/handover" >"$dossier/sortie" &
pid=$!
for ((i = 0; i < 200; i++)); do
  [[ -s $dossier/sortie ]] && break
  sleep 0.01
done
ligne=$(head -n 1 "$dossier/sortie")
attendu="pid : $pid, cup number 0"
if [[ $ligne != "$attendu" ]]; then
  echo "handover from the package printed '$ligne', expected '$attendu'"
  exit 1
fi
[[ $(readlink "/proc/$pid/exe") == "$dossier/usr/bin/cupcounter" ]]
# Without root, in the home folder, as processus-en-direct(7) says: the
# package unpacked, the PATH line, then a student's first steps and the
# overview page found by man from PATH alone. Run by root, this is done as
# nobody, in a home of nobody's own, so that no right of root's helps it.
maison=$(mktemp -d)
cp "$deb" "$maison/"
en_utilisateur=()
if ((EUID == 0)); then
  chown -R 65534:65534 "$maison"
  en_utilisateur=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
# shellcheck disable=SC2016 # expanded by that bash, in the user's home
"${en_utilisateur[@]}" env -i HOME="$maison" PATH=/usr/bin:/bin LANG=C.UTF-8 bash -euo pipefail -c '
  dpkg-deb -x ~/processus-en-direct_*.deb ~/processus-en-direct
  export PATH="$HOME/processus-en-direct/usr/bin:$PATH"
  cd "$HOME"
  cp ~/processus-en-direct/usr/share/processus-en-direct/exercices/sans-zombie/keyhold1.cpp .
  verifier --construire keyhold1.cpp >/dev/null
  [[ -x ./keyhold1 && $(stat -c %u keyhold1) == $(id -u) ]]
  # The tour, under its installed name, on the installed programs and sources.
  [[ $(visite-processus --version) == "visite-processus "* ]]
  visite-processus keyhold1 handover </dev/null >visite.txt 2>&1
  grep -q "Fin de la visite." visite.txt && ! grep -q "introuvables" visite.txt
  if command -v man >/dev/null; then
    [[ $(man -w processus-en-direct) == "$HOME"/processus-en-direct/* ]]
  fi' || { rm -rf "$maison"; echo "the home-folder install does not work"; exit 1; }
rm -rf "$maison"

n=$(wc -w <<<"$programmes")
echo "package check: $n programs, $n manual pages and the overview, home-folder install, ${#fichiers[@]} files of the exercises, handover becomes cupcounter (pid $pid)"
