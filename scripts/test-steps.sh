# The steps of the test run (scripts/test.sh), which sources this file: each
# adds to the run's counts (passed, failed, skipped) and its lists of
# failures; builds and logs go to build/ under the current folder.

note() { printf '\n== %s\n' "$*"; }

# Adds the counts of a ctest run from its output.
count_ctest() {
  local log=$1 name=$2 line total fails
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$log"; then return; fi
    failed=$((failed + 1)); failures+=("$name: ctest did not finish"); return
  fi
  fails=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  # Tests that skipped themselves count apart.
  skips=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
  passed=$((passed + total - fails - skips)); failed=$((failed + fails)); skipped=$((skipped + skips))
  [ "$fails" -gt 0 ] && failures+=("$name: $fails failed")
}

build_preset() {
  local preset=$1
  note "build $preset"
  if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
    cat "build/$preset.configure.log"; failed=$((failed + 1)); failures+=("$preset: configure failed"); return 1
  fi
  # Judged by the build's own status, whatever its output holds.
  local status=0
  cmake --build --preset "$preset" -j"$jobs" >"build/$preset.build.log" 2>&1 || status=$?
  grep -E 'error|warning:' "build/$preset.build.log"
  if [ "$status" -ne 0 ]; then
    echo "build $preset failed (status $status); its last lines:"
    tail -n 15 "build/$preset.build.log" | sed 's/^/  /'
    failed=$((failed + 1)); failures+=("$preset: build failed"); return 1
  fi
  return 0
}

run_ctest() {
  local preset=$1; shift
  note "tests $preset"
  local log="build/$preset.ctest.log"
  (cd "build/$preset" && ctest --output-on-failure --timeout 600 -j"$jobs" "$@") >"$log" 2>&1
  tail -n 40 "$log"
  count_ctest "$log" "$preset"
}

