#!/usr/bin/env bash
# Renders one manual page with every groff warning on; any warning fails.
set -euo pipefail
page=$1
if ! command -v groff >/dev/null; then
  echo "groff is missing: install the Debian package groff-base" >&2
  exit 1
fi
avertissements=$(groff -man -ww -z -K utf8 "$page" 2>&1)
if [[ -n $avertissements ]]; then
  printf '%s\n' "$avertissements"
  exit 1
fi
