#!/usr/bin/env bash
# Adding an exercise is adding its folder, its name to exercices/liste and
# its row to the README's table.
# The built verifier's --list and the README's table name the list, in its
# order. In a temporary tree whose list names a new folder (made from
# sans-zombie), configuring puts it in the generated registry that --list
# prints (compiling that registry would take a minute: it is read instead),
# its solution builds, and its statement, start and handout install.
#   nouvel_exercice.sh SOURCE_DIR VERIFIER
set -euo pipefail
source=$1 verifier=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echec() { echo "$*" >&2; exit 1; }

liste=$(grep -E '^[a-z]' "$source/exercices/liste")
noms=$("$verifier" --list | grep -oE '^[a-z][a-z0-9-]*')
[[ $noms == "$liste" ]] || echec "verifier --list: ${noms//$'\n'/ }; the list: ${liste//$'\n'/ }"
# shellcheck disable=SC2016 # the README's backquotes, not a command
tableau=$(sed -n 's/^| `\([a-z0-9-]*\)` |.*/\1/p' "$source/README.md")
[[ $tableau == "$liste" ]] || echec "README's table: ${tableau//$'\n'/ }; the list: ${liste//$'\n'/ }"

a=$tmp/arbre neuf=$tmp/arbre/exercices/essai-neuf
mkdir -p "$a/exercices" "$a/process_creation" "$neuf"
cp -r "$source/common" "$source/lancement" "$a/"
find "$source/exercices" -maxdepth 1 -type f -exec cp {} "$a/exercices/" \;
cp -r "$source/exercices/sans-zombie" "$a/exercices/"
cp "$source/process_creation/keyhold1.cpp" "$a/process_creation/"
cp "$source/exercices/sans-zombie/"{solution.cpp,depart} "$neuf/"
sed 's/exercice_sans_zombie/exercice_essai_neuf/; s/"sans-zombie"/"essai-neuf"/' \
  "$source/exercices/sans-zombie/criteres.cpp" >"$neuf/criteres.cpp"
sed 's/sans-zombie/essai-neuf/g' "$source/exercices/sans-zombie/enonce.md" >"$neuf/enonce.md"
printf 'sans-zombie\nessai-neuf\n' >"$a/exercices/liste"
cat >"$a/CMakeLists.txt" <<'FIN'
cmake_minimum_required(VERSION 3.25)
project(essai LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
include(GNUInstallDirs)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
foreach(p cupcounter rightwalker leftwalker arbre_commun)
  add_library(${p} INTERFACE)
endforeach()
add_subdirectory(common)
add_subdirectory(lancement)
add_subdirectory(exercices)
FIN

cmake -S "$a" -B "$tmp/b" -G Ninja >"$tmp/journal" 2>&1 || { cat "$tmp/journal"; echec configure; }
grep -q 'exercice_sans_zombie(), exercice_essai_neuf()' "$tmp/b/exercices/registre.cpp" ||
  echec "the registry does not follow the list: $(grep 'tous =' "$tmp/b/exercices/registre.cpp")"
cibles=(solution-essai-neuf) attendus=(enonce.md keyhold1.cpp)
if cmake --build "$tmp/b" --target help | grep -q '^polycopie:'; then
  cibles+=(polycopie) attendus+=(enonce.pdf ../enonces.pdf)
fi
cmake --build "$tmp/b" --target "${cibles[@]}" >"$tmp/journal" 2>&1 ||
  { cat "$tmp/journal"; echec "building ${cibles[*]}"; }
[[ -x $tmp/b/bin/solution-essai-neuf ]] || echec "no solution-essai-neuf built"
cmake --install "$tmp/b" --prefix "$tmp/p" --component exercices >/dev/null
for f in "${attendus[@]}"; do
  [[ -f $tmp/p/share/processus-en-direct/exercices/essai-neuf/$f ]] || echec "not installed: $f"
done
echo "one folder and one word in the list: registry, solution, ${attendus[*]} follow"
