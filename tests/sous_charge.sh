#!/usr/bin/env bash
# The whole suite, N times in a row, on a loaded machine: stress-ng keeps four
# workers busy on the CPU the whole time, as a room's other programs would.
# Each run's failed tests are named as it ends; at the end, how many runs
# failed, and every failed test with the number of runs it failed in. Exits 1
# if any run failed (each run's log, with the output of every test that
# failed, is then kept, and its folder named). The suite must be built
# (./run-tests, or cmake --build).
#   tests/sous_charge.sh [N] [BUILD_DIR]     (N: 30 by default)
set -euo pipefail
n=${1:-30}
build=${2:-$(dirname "${BASH_SOURCE[0]}")/../build}
[[ $n =~ ^[1-9][0-9]*$ ]] || { echo "usage : tests/sous_charge.sh [N] [BUILD_DIR]" >&2; exit 2; }
command -v stress-ng >/dev/null || { echo "stress-ng is missing: its package is under load in prerequisites/debian" >&2; exit 1; }
[[ -f $build/CTestTestfile.cmake ]] || { echo "no built suite in $build: run ./run-tests first" >&2; exit 1; }

# Each run's log; the folder is kept when a run fails, for its details.
journaux=$(mktemp -d "${TMPDIR:-/tmp}/sous_charge-XXXXXX")
stress-ng --cpu 4 --quiet &
charge=$!
trap 'kill "$charge" 2>/dev/null; wait "$charge" 2>/dev/null' EXIT

declare -A echecs=()
rates=0
debut=$SECONDS
for ((k = 1; k <= n; k++)); do
  depart=$SECONDS
  if ctest --test-dir "$build" -j2 --timeout 120 --output-on-failure >"$journaux/$k" 2>&1; then
    echo "run $k/$n: pass ($((SECONDS - depart)) s)"
  else
    rates=$((rates + 1))
    echo "run $k/$n: FAIL ($((SECONDS - depart)) s)"
    # ctest's summary: "  12 - Suite.Test (Failed)" and the like.
    while read -r nom; do
      echo "  $nom"
      echecs[$nom]=$((${echecs[$nom]:-0} + 1))
    done < <(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*)$/\1/p' "$journaux/$k")
  fi
done
echo "$n runs under stress-ng --cpu 4 in $((SECONDS - debut)) s: $rates failed"
if ((rates == 0)); then
  rm -rf "$journaux"
else
  echo "each run's log: $journaux/RUN"
fi
for nom in "${!echecs[@]}"; do
  echo "  $nom: failed in ${echecs[$nom]} run(s)"
done
((rates == 0))
