# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # the tour's globals, shared by all it sources
# handover: a process that becomes cupcounter under the same pid, caught
# under its own name before its exec; then an exec that fails.
resume["handover"]="un processus qui devient cupcounter, sous le même pid"

saisir_avant_exec() {
  local moi_nom nom essai p pas e i j
  nom_de $$ moi_nom
  for ((essai = 0; essai < 60; essai++)); do
    handover >&"$1" &
    p=$! pas=10
    for ((i = 0; i < 400; i++)); do
      # SIGSTOP until /proc says it has stopped.
      for ((j = 0; j < 20000; j++)); do
        kill -STOP "$p" 2>/dev/null || break 2
        lettre_etat "$p" e || break 2
        [[ $e == T ]] && break
      done
      nom_de "$p" nom || break
      if [[ $nom == handover ]]; then saisi=$p; return 0; fi
      [[ $nom == "$moi_nom" ]] || break # déjà cupcounter : trop tard
      kill -CONT "$p"
      for ((j = 0; j < pas; j++)); do :; done
      pas=$((pas + pas / 2))
    done
    kill -KILL "$p" 2>/dev/null; { wait "$p"; } 2>/dev/null
  done
  return 1
}

etape_handover() {
  dire "handover ne fait qu'un appel : execvp(\"cupcounter\"), qui cherche cupcounter"
  dire "dans les dossiers de PATH. Le programme change, le processus reste."
  montrer_code replacement/handover.cpp 'char nom\[\]' 'signaler_echec'
  moment "prédisez : quel pid portera cupcounter ? Que fera le code d'après l'exec ?"
  dire "L'exec prend moins d'une milliseconde ; pour le voir avant, la visite suspend"
  dire "handover par SIGSTOP dès son lancement (Ctrl-Z envoie SIGTSTP, qu'un programme"
  dire "peut intercepter ; SIGSTOP, non), et le fait avancer par petits pas jusqu'à ce"
  dire "que le système le montre sous le nom de handover."
  commande "mkfifo relais; handover >relais &"
  mkfifo relais
  exec {lecture}<>relais
  local pid saisi=
  if saisir_avant_exec "$lecture"; then
    pid=$saisi
    dire "handover démarré : pid $pid, fils de la visite (pid $$), suspendu :"
    montrer "$pid"
    moment "handover $pid, suspendu avant son exec : ps -o pid,ppid,stat,cmd -p $pid"
    # What the attempts killed before it may have written does not count.
    local l; while IFS= read -r -t 0.01 l <&"$lecture"; do :; done
    dire "La visite le laisse repartir : il appelle execvp et devient cupcounter."
    commande "kill -CONT $pid"
    kill -CONT "$pid"
  else
    handover >&"$lecture" &
    pid=$!
    dire "handover démarré : pid $pid, fils de la visite (pid $$). La machine est"
    dire "trop chargée : la visite n'a pas pu le saisir avant son exec."
  fi
  lignes_horodatees "$lecture" 2 "$EPOCHREALTIME"
  montrer "$pid"
  dire "Même pid ($pid), même parent ($$, la visite) : un autre programme. Les"
  dire "lignes de cupcounter portent le pid de handover."
  moment "$pid est devenu cupcounter : ps -o pid,ppid,stat,cmd -p $pid"
  commande "kill $pid"
  kill "$pid"; { wait "$pid"; } 2>/dev/null
  exec {lecture}<&-
  dire
  dire "Sans cupcounter dans PATH, l'exec échoue et handover le dit. Le shell doit"
  dire "trouver handover lui-même : on le lance par son chemin, avec un PATH sans"
  dire "cupcounter pour lui seul."
  # shellcheck disable=SC2016 # shown as it is typed
  commande 'PATH=/nulle-part "$(command -v handover)"; echo "code $?"'
  PATH=/nulle-part "$(command -v handover)" 2>&1 | indenter
  dire "    code ${PIPESTATUS[0]}"
  dire "Le code 2 est ENOENT : aucun fichier de ce nom dans les dossiers de PATH."
  moment "exec manqué, code 2. Essayez : PATH=/nulle-part \"\$(command -v handover)\""
}

# During the race: the reports, as they come. Returns 1 once every walker has
# finished (end of the pipe).
