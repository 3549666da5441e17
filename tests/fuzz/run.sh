#!/usr/bin/env bash
# Builds the receipt mark-up fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for the given seconds.
#   tests/fuzz/run.sh <output folder> <seconds>
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(realpath -m "${1:-build/fuzz}")
seconds=${2:-60}
mkdir -p "$out/corpus" "$out/runtime"
cp -n tests/fuzz/seeds/* "$out/corpus/"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. \
  tests/fuzz/receipt_fuzz.cpp binding/receipt_markup.cpp binding/addon_log.cpp \
  platform/posix/files.cpp platform/posix/named_lock.cpp platform/posix/local_time.cpp platform/posix/text.cpp \
  platform/posix/process_exit.cpp \
  -o "$out/receipt_fuzz"
# The log lock of skipped barcodes lives in the run's own runtime folder.
cd "$out"
XDG_RUNTIME_DIR="$out/runtime" ./receipt_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -dict="$OLDPWD/tests/fuzz/receipt.dict" corpus
