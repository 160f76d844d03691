# shellcheck shell=bash
# registres: a loop that lives in registers, against the same source
# unoptimised.
resume[registres]="une boucle qui ne vit que dans les registres"

etape_registres() {
  dire "1 500 000 000 tours de boucle : 3 × suite + 3, divisé par 3. Compilée avec"
  dire "optimisation, la boucle garde toutes ses valeurs dans les registres. La même"
  dire "source sans optimisation (registres_O0) les range en mémoire à chaque tour."
  local avec_O0=0
  command -v registres_O0 >/dev/null && avec_O0=1
  commande "registres"
  local debut=$EPOCHREALTIME duree duree_O0=
  registres | indenter
  duree=$(depuis "$debut")
  dire "durée mesurée par la visite : $duree s"
  if ((avec_O0)); then
    commande "registres_O0"
    debut=$EPOCHREALTIME
    registres_O0 | indenter
    duree_O0=$(depuis "$debut")
    dire "durée mesurée par la visite : $duree_O0 s"
  fi
  dire "Le résultat est connu d'avance ; c'est le coût de la boucle qui compte."
  moment "registres : $duree s${duree_O0:+ ; registres_O0 : $duree_O0 s}. Essayez : time registres"
  if command -v objdump >/dev/null; then
    local division=imul
    [[ $(uname -m) == aarch64 ]] && division=smulh
    dire "La division par 3 devient une multiplication ($division) par 0x5555555555555556."
    dire "Autour d'elle, dans la boucle optimisée, rien que des registres (lea ne fait"
    dire "qu'un calcul d'adresse, sans lire la mémoire) :"
    commande_suite "objdump -d \"\$(command -v registres)\" | grep -m1 -B3 -A1 $division"
    objdump -d --no-show-raw-insn "$(command -v registres)" | grep -m1 -B3 -A1 "$division" |
      cut -f2- | indenter
    if ((avec_O0)); then
      if [[ $division == imul ]]; then
        dire "Sans optimisation, chaque valeur vit dans la pile, en mémoire : chaque"
        dire "calcul la relit (mov -0x20(%rbp),%rax) et y range son résultat"
        dire "(mov %rax,-0x20(%rbp)) :"
      else
        dire "Sans optimisation, chaque valeur vit dans la pile, en mémoire : chaque"
        dire "calcul la relit (ldr ..., [sp, ...]) et y range son résultat (str) :"
      fi
      commande_suite "objdump -d \"\$(command -v registres_O0)\" | grep -m1 -B6 $division"
      objdump -d --no-show-raw-insn "$(command -v registres_O0)" | grep -m1 -B6 "$division" |
        cut -f2- | indenter
    fi
  fi
  moment "des registres d'un côté, la mémoire de l'autre"
}
