#!/usr/bin/env bash
# The main job, locally: the launcher starts the stand-in client and the
# updater in a sandboxed home under ./run, shows what it did, and Ctrl-C stops
# the programs this run started (found by process id, nothing else).
# ORVANE_BUILD_DIR and ORVANE_RUN_DIR move the build (build/native) and the
# sandbox (run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="${ORVANE_BUILD_DIR:-$root/build/native}"
sandbox="${ORVANE_RUN_DIR:-$root/run}"
build=$(realpath -m "$build"); sandbox=$(realpath -m "$sandbox")
scripts/install-deps.sh
# The programs only: the tests need what `make test` installs. The same build
# folder as `make test`, whose configure turns them back on.
scripts/build-native.sh "$build" run-build.log -DORVANE_TESTS=OFF

bin="$build/bin"
work="$sandbox/work"
export HOME="$sandbox/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_RUNTIME_DIR="$sandbox/runtime"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$work"
chmod 700 "$XDG_RUNTIME_DIR"

# The programs this run started: they work in the sandbox's work folder, each
# in a session of its own (the launcher starts programs that way), unlike this
# script and its helpers.
own_session=$(ps -o sid= -p $$ | tr -d ' ')
started() {
  local p sid
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/cwd" 2>/dev/null)" = "$work" ] || continue
    sid=$(ps -o sid= -p "${p#/proc/}" 2>/dev/null | tr -d ' ') || continue
    [ -n "$sid" ] && [ "$sid" != "$own_session" ] && echo "${p#/proc/}"
  done
  return 0
}

tail_pid=
stop() {
  trap - INT TERM
  echo
  echo "Stopping what this run started..."
  local pids
  pids=$(started)
  if [ -n "$pids" ]; then
    ps -o pid=,args= -p "$(echo $pids | tr ' ' ,)" | sed 's/^/  ended: /'
    # The client removes its lockfile on a normal end.
    kill $pids 2>/dev/null || true
    for _ in $(seq 50); do [ -z "$(started)" ] && break; sleep 0.1; done
    pids=$(started)
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
  fi
  [ -n "$tail_pid" ] && kill "$tail_pid" 2>/dev/null
  declare -F addon_stop >/dev/null && addon_stop
  echo "State and logs stay under $sandbox."
  exit 0
}
trap stop INT TERM

# --- print add-on (binding): run from the installation folder, with a fake
# USB receipt printer for the client's sample receipt (scripts/run-addon.sh).
source "$root/scripts/run-addon.sh"
addon_prepare
# --- end of the print add-on block

# --- updater network: stand-in upgrade and statistics services, and the run's
# updater built against them (scripts/run-network.sh).
source "$root/scripts/run-network.sh"
network_prepare
# --- end of the updater network block

cd "$work"
echo "Running $bin/orvane_launcher"
echo "  home: $HOME   working folder: $work"
status=0
"$bin/orvane_launcher" || status=$?
echo "The launcher ended with status $status."

kesto="$XDG_DATA_HOME/KestoOrvane"
# The client marks its slot once it runs; wait for that, briefly.
for _ in $(seq 50); do
  compgen -G "$kesto/UserData_*/lockfile" >/dev/null && break
  sleep 0.1
done

echo
echo "--- $kesto"
find "$kesto" | sed "s|^$kesto|KestoOrvane|" | sort
echo
echo "--- uuid: $(cat "$kesto/uuid" 2>/dev/null)"
echo "--- orvane.ini"
tr -d '\r' <"$kesto/orvane.ini"
echo
echo "--- orvane_launcher.log (every run appends)"
tr -d '\r' <orvane_launcher.log
echo
# --- receipt designer (scripts/run-designer.sh)
source "$root/scripts/run-designer.sh"
designer_start
# --- end of the receipt designer block

echo
echo "--- processes this run started"
pids=$(started)
if [ -n "$pids" ]; then ps -o pid,args -p "$(echo $pids | tr ' ' ,)"; else echo "  none"; fi
echo
designer_show
# --- print add-on (binding): the sample receipt's bytes and the add-on log.
addon_show
# --- end of the print add-on block
# --- updater network: what the stand-in services received, followed from here on.
network_show
# --- end of the updater network block
echo "--- orvane_updater.log (following; Ctrl-C stops the programs above)"
touch orvane_updater.log
tail -n +1 -f orvane_updater.log &
tail_pid=$!
wait
