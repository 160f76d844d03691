# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# stopclock: a stopwatch that measures nothing, and buffering.
resume["stopclock"]="un chronomètre qui ne mesure rien"

etape_stopclock() {
  dire "stopclock annonce la commande qu'on lui nomme... et ne la lance pas. Le temps"
  dire "écoulé qu'il donne vaut toujours 0 : il ne mesure rien."
  montrer_code measures/stopclock.cpp 'double temps_ecoule' 'fprintf\(stderr'
  moment "prédisez : que fera stopclock ls -l ? Et dans un tube ?"
  commande "stopclock ls -l"
  dire "(la visite le lance sur un terminal à lui, comme au clavier, par la commande"
  dire "script -qc 'stopclock ls -l' /dev/null)"
  script -qc 'stopclock ls -l' /dev/null | tr -d '\r' | indenter
  dire "Aucun ls n'a tourné. L'annonce va sur la sortie standard, le temps sur la"
  dire "sortie d'erreur, qui n'a pas de tampon. Au terminal, la sortie standard part à"
  dire "chaque fin de ligne : l'annonce d'abord."
  moment "au terminal : l'annonce, puis le temps. Essayez : stopclock ls"
  dire "Dans un tube, l'annonce attend dans le tampon jusqu'à la fin : le temps passe"
  dire "devant."
  commande "stopclock ls 2>&1 | cat"
  stopclock ls 2>&1 | cat | indenter
  moment "dans un tube : le temps, puis l'annonce. Essayez : stopclock ls 2>&1 | cat"
}
