#!/usr/bin/env bash
# Builds the native programs and runs every benchmark beside its anchor
# (bench/run_bench.py); ends with the table of figures, also written as
# Markdown to <build>/bench/figures.md, the only place the figures live.
# Writes only into the build folder (ORVANE_BUILD_DIR, default build/native);
# the comparison encoder is fetched with npm into it once.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${ORVANE_BUILD_DIR:-build/native}")
anchor_package="@point-of-sale/receipt-printer-encoder"
anchor_version=4.0.1
# The benchmarks build with the test libraries (Google Benchmark) and use curl.
scripts/install-deps.sh --test
mkdir -p "$build/bench"
scripts/build-native.sh "$build" bench-build.log
anchor="$build/bench/anchor"
installed="$anchor/node_modules/$anchor_package/package.json"
if [ ! -f "$installed" ] || [ "$(node -p "require('$installed').version")" != "$anchor_version" ]; then
  echo "Fetching $anchor_package $anchor_version with npm..."
  mkdir -p "$anchor"
  npm install --no-audit --no-fund --prefix "$anchor" "$anchor_package@$anchor_version" >/dev/null
fi
exec python3 bench/run_bench.py "$build" "$anchor"
