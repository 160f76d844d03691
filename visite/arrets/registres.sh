# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# registres: a loop that lives in registers, against the same source
# unoptimised.
resume["registres"]="une boucle qui ne vit que dans les registres"

# Runs program $1, its output into $2, and meanwhile shows on the terminal,
# in place, the processor time the kernel counts for it (/proc/PID/stat,
# user time): seconds of waiting, but never a frozen screen.
calculer_en_direct() {
  local pid champs hz
  hz=$(getconf CLK_TCK 2>/dev/null) || hz=100
  "$1" >"$2" &
  pid=$!
  while ((au_terminal)); do
    dormir 0.25
    { read -r champs <"/proc/$pid/stat"; } 2>/dev/null || break
    read -ra champs <<<"${champs##*) }"
    [[ ${champs[0]} == Z ]] && break
    printf '\r    … %s s de processeur' "$(centiemes $((champs[11] * 100 / hz)))"
  done
  wait "$pid"
  ((au_terminal)) && printf '\r\033[K'
}

etape_registres() {
  dire "1 500 000 000 tours de boucle : 3 × suite + 3, divisé par 3. Compilée avec"
  dire "optimisation, la boucle garde toutes ses valeurs dans les registres. La même"
  dire "source sans optimisation (registres_O0) les range en mémoire à chaque tour."
  local avec_O0=0
  command -v registres_O0 >/dev/null && avec_O0=1
  dire "Ce qui compte : le temps de processeur (user) que le noyau compte à chaque"
  dire "processus, et non le temps écoulé, qu'allongent les autres processus."
  montrer_code measures/registres.cpp 'for \(unsigned int i' '^    }'
  moment "prédisez : registres_O0 prendra-t-il plus de temps de processeur ?"
  commande "time registres"
  local avant apres duree duree_O0=
  cpu_des_fils avant
  calculer_en_direct registres registres.txt
  cpu_des_fils apres
  duree=$((apres - avant))
  indenter <registres.txt
  dire "    user $(centiemes "$duree") s"
  if ((avec_O0)); then
    commande "time registres_O0"
    cpu_des_fils avant
    calculer_en_direct registres_O0 registres.txt
    cpu_des_fils apres
    duree_O0=$((apres - avant))
    indenter <registres.txt
    dire "    user $(centiemes "$duree_O0") s"
    if ((duree > 0)); then
      dire "La même boucle, sans registres : $(rapport "$duree_O0" "$duree") fois plus de temps de processeur."
    fi
  fi
  moment "registres : $(centiemes "$duree") s de processeur${duree_O0:+ ; registres_O0 : $(centiemes "$duree_O0") s}"
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
      moment "la boucle optimisée : des registres, aucune adresse en mémoire"
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
