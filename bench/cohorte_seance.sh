#!/usr/bin/env bash
# A lab's whole cohort through verifier --seance, as a teacher runs it after
# the lab: N students (200 by default) on three exercises, each student's
# copy taken in turn from the exercise's solution, its variantes/ (which must
# hold every criterion) and its erreurs/ (which must fail one). Prints the
# time, the copies checked a second, and every verdict that is not the one
# expected: a verdict changed by the checks sharing the machine shows here.
#
#     bash bench/cohorte_seance.sh [N] [VERIFIER] [-- OPTIONS of verifier]
#     bash bench/cohorte_seance.sh 30 build/bin/verifier -- -j 1
set -euo pipefail
racine=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
eleves=${1:-200}
verifier=$(realpath "${2:-$racine/build/bin/verifier}")
shift $(($# > 2 ? 2 : $#))
[[ ${1:-} == -- ]] && shift
exercices=(sans-zombie ordre vrai-chrono)

ici=$(mktemp -d "${TMPDIR:-/tmp}/cohorte-XXXXXX")
chmod 755 "$ici"
trap 'rm -rf "$ici"' EXIT
mkdir "$ici/rendus"
: >"$ici/attendu"
for e in "${exercices[@]}"; do
  depart=$(grep -v '^#' "$racine/exercices/$e/depart" | head -n 1)
  echo "$e 1 $(basename "$depart")" >>"$ici/seance"
done

# Each exercise's copies, the ones that must pass first.
declare -A copies
for e in "${exercices[@]}"; do
  liste=("$racine/exercices/$e/solution.cpp")
  liste+=("$racine/exercices/$e"/variantes/*.c*)
  liste+=("$racine/exercices/$e"/erreurs/*.c*)
  copies[$e]="${liste[*]}"
done

for ((n = 1; n <= eleves; n++)); do
  dossier="$ici/rendus/Élève $n Cohorte_$((100000 + n))_assignsubmission_file_"
  mkdir "$dossier"
  attendu="$((100000 + n))"
  for e in "${exercices[@]}"; do
    read -r -a liste <<<"${copies[$e]}"
    copie=${liste[$(((n - 1) % ${#liste[@]}))]}
    depart=$(grep -v '^#' "$racine/exercices/$e/depart" | head -n 1)
    nom=$(basename "$depart")
    extension=${copie##*.}
    cp "$copie" "$dossier/${nom%.*}.$extension"
    case $copie in
      */erreurs/*) attendu+=" echec" ;;
      *) attendu+=" tenu" ;;
    esac
  done
  echo "$attendu" >>"$ici/attendu"
done

echo "Cohorte : $eleves élèves × ${#exercices[@]} exercices (${exercices[*]}), $(nproc) cœurs."
debut=$(date +%s.%N)
code=0
"$verifier" --seance "$ici/seance" "$ici/rendus" --csv "$ici/notes.csv" "$@" >"$ici/sortie" || code=$?
fin=$(date +%s.%N)
tail -n 1 "$ici/sortie"
[[ $code -le 1 ]] || { echo "verifier a fini avec le code $code" >&2; cat "$ici/sortie" >&2; exit 1; }

# Each exercise's held count against its total, from the CSV's header.
ecarts=$(python3 - "$ici/notes.csv" "$ici/attendu" <<'EOF'
import csv, re, sys
with open(sys.argv[1], encoding="utf-8-sig") as f:
    rangs = list(csv.reader(f, delimiter=";"))
totaux = [int(re.search(r"sur (\d+)", c).group(1)) for c in rangs[0] if "(sur " in c]
noms = [c.split(" (")[0] for c in rangs[0] if "(sur " in c]
attendus = {l.split()[0]: l.split()[1:] for l in open(sys.argv[2]) if l.strip()}
ecarts = 0
for r in rangs[1:]:
    for k, total in enumerate(totaux):
        tenus, remarque = int(r[2 + 2 * k]), r[3 + 2 * k]
        vu = "tenu" if tenus == total else "echec"
        if vu != attendus[r[0]][k]:
            ecarts += 1
            print(f"  {r[1]}, {noms[k]} : {vu} au lieu de {attendus[r[0]][k]} ({remarque})",
                  file=sys.stderr)
print(ecarts)
EOF
)
python3 -c "
d = $fin - $debut; n = $eleves * ${#exercices[@]}
print(f'Durée : {d:.0f} s pour {n} copies, {n / d:.2f} copies par seconde'.replace('.', ','))
print(f'Soit pour 200 élèves × 3 exercices : {600 * d / n / 60:.1f} min'.replace('.', ','))"
echo "Verdicts autres que ceux attendus : $ecarts"
