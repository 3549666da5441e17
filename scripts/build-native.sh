#!/usr/bin/env bash
# Builds the native preset into BUILD, the output kept in BUILD/LOG; on a
# failure shows its end and fails.
#   scripts/build-native.sh BUILD LOG [CMAKE_ARGS...]
set -euo pipefail
build=$1
log="$1/$2"
shift 2
echo "Building the native programs ($build)..."
mkdir -p "$build"
if ! { cmake --preset native -B "$build" "$@" && cmake --build "$build" -j"$(nproc)"; } >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "The build failed; the whole output is in $log" >&2
  exit 1
fi
