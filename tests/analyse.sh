#!/usr/bin/env bash
# The static analysers on the suite's own C++: clang-tidy with the checks of
# .clang-tidy, and cppcheck's warnings, both on every source the build
# compiles except the students' programs of the exercises (erreurs/ and
# variantes/ are wrong, or odd, on purpose); then shellcheck on its scripts.
# Exits 1 on any finding.
#   tests/analyse.sh [BUILD_DIR]    (build-analyse/ by default; configured here)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build-analyse}
cmake --preset default -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# The sources, from the compilation database.
mapfile -t sources < <(sed -n 's/^  "file": "\(.*\.cpp\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
  grep -v -e /erreurs/ -e /variantes/ | sort -u)
echo "clang-tidy on ${#sources[@]} sources"
# One source an invocation: given several, clang-tidy's analyser carries state
# from one to the next (texte.cpp's va_list seen uninitialised after three
# test files, and only then).
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet
echo "cppcheck"
# cppcheckError: Debian 12's cppcheck (2.10) stops on duration literals
# (10ms) with an "internal error", a fault of its own, not of the code.
cppcheck --project="$build/compile_commands.json" --enable=warning,performance,portability \
  --library=googletest --suppress='*:*/erreurs/*' --suppress='*:*/variantes/*' \
  --suppress=missingIncludeSystem --suppress=cppcheckError \
  --inline-suppr --error-exitcode=1 --quiet -j "$(nproc)"
echo "shellcheck"
# The suite's scripts, the tour's sourced files with them (-x follows them).
mapfile -t scripts < <(git ls-files | grep -E '(\.sh$|^tour$|^run-tests$|^make-package$|^\.ci/run$)')
shellcheck -x "${scripts[@]}"
echo "no finding"
