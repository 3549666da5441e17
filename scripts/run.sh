#!/usr/bin/env bash
# The main job, locally: the launcher starts the stand-in client and the
# updater in a sandboxed home under ./run; Ctrl-C stops what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" >/dev/null

bin="$root/build/native/bin"
sandbox="$root/run"
export HOME="$sandbox/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_RUNTIME_DIR="$sandbox/runtime"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$sandbox/work"
chmod 700 "$XDG_RUNTIME_DIR"

stop() {
  echo
  echo "Stopping what the launcher started..."
  for name in Orvane orvane_updater; do
    pkill -x "$name" -U "$(id -u)" 2>/dev/null || true
  done
  exit 0
}
trap stop INT TERM

# --- print add-on (binding): run from the installation folder, with a fake
# USB receipt printer for the client's sample receipt (scripts/run-addon.sh).
source "$root/scripts/run-addon.sh"
addon_prepare
# --- end of the print add-on block

cd "$sandbox/work"
echo "Running: $bin/orvane_launcher   (home: $HOME, working folder: $sandbox/work)"
"$bin/orvane_launcher" || true
sleep 1

kesto="$XDG_DATA_HOME/KestoOrvane"
echo
echo "--- $kesto"
find "$kesto" | sed "s|$kesto|KestoOrvane|" | sort
echo
echo "--- uuid: $(cat "$kesto/uuid" 2>/dev/null)"
echo "--- orvane.ini"
tr -d '\r' <"$kesto/orvane.ini"
echo
echo "--- orvane_launcher.log"
tr -d '\r' <orvane_launcher.log
echo
echo
echo "--- processes started"
ps -o pid,args -C Orvane,orvane_updater || true
echo
# --- print add-on (binding): the sample receipt's bytes and the add-on log.
addon_show
# --- end of the print add-on block
echo "--- orvane_updater.log (following; Ctrl-C stops everything)"
touch orvane_updater.log
tail -f orvane_updater.log | tr -d '\r' &
wait
