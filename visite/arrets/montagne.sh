# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# montagne: what a read costs, depending on where its data lies. In class,
# the table keeps one block size in two, so that it fits with its title; the
# same figures as a plot come next, on a screen of their own.
resume["montagne"]="ce que coûte une lecture, selon où sont les données"

etape_montagne() {
  dire "registres ne touchait pas la mémoire. montagne la lit : des blocs de 4 Kio"
  dire "à 256 Mio, au pas de 16 à 512 octets, puis au hasard (chaque lecture donne"
  dire "l'adresse de la suivante). Le débit tombe quand le bloc sort d'un cache."
  commande "montagne --max 256M --duree 2 --svg montagne.svg --hauteur 16"
  montagne --max 256M --duree 2 --svg "$tmp/montagne.svg" --hauteur 16 >"$tmp/montagne.txt" 2>&1
  if ((classe)); then
    # The header, then 4 Kio, 16 Kio, 64 Kio...: every other line.
    sed -n '/^ *bloc /,/^$/p' "$tmp/montagne.txt" | sed '/^$/d' | awk 'NR == 1 || NR % 2 == 0' |
      indenter
  else
    sed -n '/^ *bloc /,/^$/p' "$tmp/montagne.txt" | indenter
  fi
  moment "la mémoire coûte : comparez la première ligne et la dernière"
  dire "Les mêmes débits en courbe, sur des échelles logarithmiques :"
  sed -n '/^ *Go\/s$/,/taille d.un cache annoncé/p' "$tmp/montagne.txt"
  moment "les paliers : le débit chute chaque fois que le bloc dépasse un cache"
  sed -n '/^Le plus rapide/,/fois moins/p' "$tmp/montagne.txt" |
    sed 's/^Le plus lent/\n&/' | fmt -w 74 | indenter
  dire "Les caches que le système annonce, d'après montagne :"
  sed -n '/^Caches de données annoncés/,/^Plus grand bloc/{/^  L/s/^  //p}' "$tmp/montagne.txt" |
    indenter
  dire "Chaque chute de la courbe devrait tomber près de l'une de ces tailles ; si"
  dire "l'une n'y tombe pas, croyez la courbe : c'est ce que ce cœur obtient."
  dire "Sans options, montagne lit des blocs jusqu'à 4 fois le plus grand cache"
  dire "annoncé, trace la courbe dans le terminal et écrit montagne.svg."
  moment "les paliers et les caches annoncés. Essayez : montagne"
}
