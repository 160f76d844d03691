# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# keyhold1: a zombie child, held while its parent waits for a key; then what
# becomes of it once the parent has gone.
resume["keyhold1"]="un fils zombie, tant que le parent attend une touche"

etape_keyhold1() {
  local prog=keyhold1
  dire "Le fils écrit son pid et finit aussitôt. Le parent n'appelle jamais wait : il"
  dire "attend un caractère, ici sur un tube qui tient lieu de clavier. Tant qu'il"
  dire "attend, le fils terminé reste dans la table des processus : c'est un zombie."
  montrer_code process_creation/keyhold1.cpp 'if \(res_f == 0\)' 'scanf\('
  moment "prédisez : que montrera ps du fils, tant que le parent attend ?"
  commande "mkfifo touche; $prog <touche >sortie & exec 3>touche; cat sortie"
  mkfifo touche
  "$prog" <touche >sortie &
  local parent=$!
  exec {clavier}>touche
  attendre_texte sortie 30 "pid : " || true
  indenter <sortie
  local fils; fils=$(sed -n 's/^pid : \([0-9]*\).*/\1/p' sortie)
  dernier_zombie=$fils
  local i
  local z=
  for ((i = 0; i < 300; i++)); do lettre_etat "$fils" z && [[ $z == Z ]] && break; dormir 0.01; done
  dire "$prog (pid $parent) attend sa touche ; son fils $fils a fini :"
  montrer "$parent" "$fils"
  legende_etats
  dire "État Z (defunct) : le fils a fini, son parent n'a pas recueilli son code de fin."
  moment "zombie $fils sous $prog $parent : ps -o pid,ppid,stat,cmd -p $fils"
  dire "Au clavier, on appuierait sur Entrée ; la visite envoie un saut de ligne."
  commande "echo >&3"
  printf '\n' >&"$clavier"
  exec {clavier}>&-
  wait "$parent"
  local code=$?
  rm -f touche sortie
  for ((i = 0; i < 300; i++)); do
    if ! lettre_etat "$fils" z || [[ $z != Z ]]; then break; fi
    dormir 0.01
  done
  dire "$prog a lu son caractère et s'est terminé (code $code)."
  if etat "$fils" >/dev/null; then
    local e; e=$(etat "$fils")
    adoptant_du_zombie=${e#* }
    dire "Le fils $fils a été confié au processus $adoptant_du_zombie, qui le recueillera :"
    montrer "$fils"
  else
    adoptant_du_zombie=
    dire "Le zombie $fils a disparu : son parent terminé, le système l'a recueilli."
    montrer "$fils"
  fi
  if [[ -n $adoptant_du_zombie ]]; then
    moment "zombie $dernier_zombie confié à $adoptant_du_zombie : ps -o pid,ppid,stat,cmd -p $dernier_zombie"
  else
    moment "plus de zombie : ps -o pid,ppid,stat,cmd -p $dernier_zombie ne montre rien"
  fi
}
