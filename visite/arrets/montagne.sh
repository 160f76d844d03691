# shellcheck shell=bash
# montagne: what a read costs, depending on where its data lies.
resume[montagne]="ce que coûte une lecture, selon où sont les données"

etape_montagne() {
  dire "registres ne touchait pas la mémoire. montagne la lit : des blocs de 4 Kio"
  dire "à 256 Mio, au pas de 16 à 512 octets, puis au hasard (chaque lecture donne"
  dire "l'adresse de la suivante). Un palier par cache, le plus bas pour la mémoire."
  commande "montagne --max 256M --duree 2 --svg montagne.svg"
  montagne --max 256M --duree 2 --svg "$tmp/montagne.svg" >"$tmp/montagne.txt" 2>&1
  sed -n '/^ *bloc /,/^$/p' "$tmp/montagne.txt" | indenter
  sed -n '/^Le plus rapide/,/fois moins/p' "$tmp/montagne.txt" |
    sed 's/^Le plus lent/\n&/' | fmt -w 74 | indenter
  dire "Sans options, montagne lit des blocs jusqu'à 4 fois le plus grand cache"
  dire "annoncé, trace la courbe dans le terminal et écrit montagne.svg pour un"
  dire "navigateur."
  moment "la mémoire coûte : comparez la première ligne et la dernière. Essayez : montagne"
}
