# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# keyhold2: keyhold1 without the blank at the end of its line, and only that:
# its zombie is keyhold1's, which the stop before has shown.
resume["keyhold2"]="le même, sans le blanc en fin de ligne"

etape_keyhold2() {
  dire "keyhold2 fait tout comme keyhold1, zombie compris, à un blanc près : pas de"
  dire "blanc entre le pid et la fin de ligne. Invisible à l'écran ; cat -A marque"
  dire "chaque fin de ligne d'un \$ :"
  montrer_code process_creation/keyhold1.cpp 'printf\("pid' 'return 0'
  montrer_code process_creation/keyhold2.cpp 'printf\("pid' 'return 0'
  commande 'echo | keyhold1 | cat -A; echo | keyhold2 | cat -A'
  { echo | keyhold1 | cat -A; echo | keyhold2 | cat -A; } | indenter
  moment "un blanc, puis pas. Essayez : echo | keyhold2 | cat -A"
}
