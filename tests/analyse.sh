#!/usr/bin/env bash
# The static analysers on the suite's own C++: clang-tidy with the checks of
# .clang-tidy, and cppcheck's warnings, both on every source the build
# compiles except the students' programs of the exercises (erreurs/ and
# variantes/ are wrong, or odd, on purpose). Exits 1 on any finding.
#   tests/analyse.sh [BUILD_DIR]    (build-analyse/ by default; configured here)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build-analyse}
cmake --preset default -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The sources, from the compilation database.
mapfile -t sources < <(sed -n 's/^  "file": "\(.*\.cpp\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
  grep -v -e /erreurs/ -e /variantes/ | sort -u)
echo "clang-tidy on ${#sources[@]} sources"
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet
echo "cppcheck"
cppcheck --project="$build/compile_commands.json" --enable=warning,performance,portability \
  --suppress='*:*/erreurs/*' --suppress='*:*/variantes/*' --suppress=missingIncludeSystem \
  --inline-suppr --error-exitcode=1 --quiet -j "$(nproc)"
echo "no finding"
