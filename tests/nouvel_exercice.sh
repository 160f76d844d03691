#!/usr/bin/env bash
# Adding an exercise is adding its folder and its name to exercices/liste;
# everything else follows from the list:
# - in a temporary tree, a copy of exercices/ whose list names a new folder
#   (made from sans-zombie) is configured: the generated registry, which
#   verifier --list prints, holds the new exercise in the list's order, its
#   solution builds, and its statement, starting source and handout install
#   into a folder of its own;
# - the built verifier's --list names the exercises of the list, in order;
# - the README's table of exercises names them, in order.
#
#   nouvel_exercice.sh SOURCE_DIR VERIFIER
# (A full build of verifier in the temporary tree would take a minute: the
# registry it would compile is checked instead.)
set -euo pipefail
source=$1 verifier=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echec() { echo "$*" >&2; exit 1; }

liste=$(grep -E '^[a-z]' "$source/exercices/liste")

# --list, from the built verifier: a name at the start of a line.
noms=$("$verifier" --list | grep -oE '^[a-z][a-z0-9-]*')
[[ $noms == "$liste" ]] || echec "verifier --list names: $(echo $noms); exercices/liste: $(echo $liste)"

# The README's table: one row an exercise, « | `NAME` | ... ».
tableau=$(sed -n 's/^| `\([a-z0-9-]*\)` |.*/\1/p' "$source/README.md")
[[ $tableau == "$liste" ]] ||
  echec "README's table of exercises names: $(echo $tableau); exercices/liste: $(echo $liste)"

# A tree of the sources verifier needs, the list naming sans-zombie, then a
# new exercise.
arbre=$tmp/arbre
mkdir -p "$arbre/exercices" "$arbre/process_creation"
cp -r "$source/common" "$source/lancement" "$arbre/"
find "$source/exercices" -maxdepth 1 -type f -exec cp {} "$arbre/exercices/" \;
cp "$source/process_creation/keyhold1.cpp" "$arbre/process_creation/"
cp -r "$source/exercices/sans-zombie" "$arbre/exercices/"
neuf=$arbre/exercices/essai-neuf
mkdir "$neuf"
cp "$source/exercices/sans-zombie/"{solution.cpp,depart} "$neuf/"
sed 's/exercice_sans_zombie/exercice_essai_neuf/; s/"sans-zombie"/"essai-neuf"/' \
  "$source/exercices/sans-zombie/criteres.cpp" >"$neuf/criteres.cpp"
sed 's/sans-zombie/essai-neuf/g' "$source/exercices/sans-zombie/enonce.md" >"$neuf/enonce.md"
printf '# two exercises\nsans-zombie\nessai-neuf\n' >"$arbre/exercices/liste"
cat >"$arbre/CMakeLists.txt" <<'FIN'
cmake_minimum_required(VERSION 3.25)
project(essai LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
include(GNUInstallDirs)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
foreach(p cupcounter rightwalker leftwalker)
  add_custom_target(${p})
endforeach()
add_subdirectory(common)
add_subdirectory(lancement)
add_subdirectory(exercices)
FIN

cmake -S "$arbre" -B "$tmp/b" -G Ninja >"$tmp/journal" 2>&1 || { cat "$tmp/journal"; echec "configure failed"; }
grep -q 'tous = {exercice_sans_zombie(), exercice_essai_neuf()}' "$tmp/b/exercices/registre.cpp" ||
  echec "the generated registry does not follow the list: $(grep 'tous =' "$tmp/b/exercices/registre.cpp")"
cibles=(solution-essai-neuf)
polycopie=0
if grep -q '^polycopie:' <(cmake --build "$tmp/b" --target help); then
  cibles+=(polycopie)
  polycopie=1
fi
cmake --build "$tmp/b" --target "${cibles[@]}" >"$tmp/journal" 2>&1 ||
  { cat "$tmp/journal"; echec "building ${cibles[*]} failed"; }
[[ -x $tmp/b/bin/solution-essai-neuf ]] || echec "no solution-essai-neuf built"

cmake --install "$tmp/b" --prefix "$tmp/p" --component exercices >/dev/null
ici=$tmp/p/share/processus-en-direct/exercices/essai-neuf
attendus=(enonce.md keyhold1.cpp)
((polycopie)) && attendus+=(enonce.pdf ../enonces.pdf)
for f in "${attendus[@]}"; do
  [[ -f $ici/$f ]] || echec "not installed: exercices/essai-neuf/$f"
done
suite=install
((polycopie)) && suite="install and handout"
echo "a new folder and one word in the list: registry, solution, $suite follow"
