#!/usr/bin/env bash
# Runs the cross-built aarch64 programs under qemu-user and checks what they
# print. Emulation cannot show everything (qemu's own threads break a forced
# fork failure, /proc names the emulator), so this stays with plain output.
set -euo pipefail
bin=$1
# qemu-user-static's emulator on Debian 12 and 13; later, qemu-user's own,
# static too, under the plain name.
emulateur=$(command -v qemu-aarch64-static || command -v qemu-aarch64) || {
  echo "aarch64: no qemu-aarch64 emulator: install the Debian package qemu-user-static" >&2
  exit 1
}
qemu=("$emulateur" -L /usr/aarch64-linux-gnu)
lancer() { "${qemu[@]}" "$bin/$1" "${@:2}"; }

echec=0
attendre() { # nom obtenu attendu
  # shellcheck disable=SC2053 # $3 is a pattern, on purpose
  if [[ $2 == $3 ]]; then echo "aarch64 $1: ok"; else
    echo "aarch64 $1: got $(printf %q "$2"), expected the pattern $(printf %q "$3")"; echec=1; fi
}
attendre genreport "$(lancer genreport | sort)" \
  $'  gen 2 : je suis [0-9]* fils de [0-9]*, res = 0\ngen 1 : je suis [0-9]* fils de [0-9]*, res = [0-9]*'
attendre keyhold1 "$(echo | lancer keyhold1)" 'pid : [0-9]* '
attendre rightwalker "$(lancer rightwalker 3 1000)" \
  $'\n'"$(printf '%51s' '')EST Explorateur 3 : position finale = *[0-9]"
attendre leftwalker "$(lancer leftwalker 4 1000)" $'\nOUEST Explorateur 4 : position finale = *[0-9]'
attendre registres "$(lancer registres)" 'suite : 1500000000 '
attendre linefit "$(lancer linefit; echo "status $?")" 'status 0'
# Through a pipe the unbuffered time line comes first.
attendre stopclock "$(lancer stopclock ls 2>&1)" $'temps écoulé : 0.000000 secondes\nexécution de ls'
attendre cupcounter "$(timeout 1.5 "${qemu[@]}" "$bin/cupcounter" | head -n 1)" \
  'pid : [0-9]*, cup number 0'
exit "$echec"
