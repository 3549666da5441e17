#!/usr/bin/env bash
# The whole test run: install, build every preset, run every suite, and end
# with one line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

scripts/install-deps.sh --test || exit 1

passed=0
failed=0
skipped=0
not_run=()
failures=()

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
  if ! cmake --build --preset "$preset" -j"$jobs" 2>&1 | tee "build/$preset.build.log" | grep -E 'error|warning:' ; then :; fi
  if [ "${PIPESTATUS[0]}" -ne 0 ]; then
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

mkdir -p build
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

build_preset native && run_ctest native
build_preset asan && run_ctest asan -LE no-sanitizer
# --- add-on core: receipt mark-up fuzzing (owned by the add-on core) ---
# Built with clang's libFuzzer under ASan and UBSan, run for a minute; counts
# as one test.
if [ -x tests/fuzz/run.sh ]; then
  note "fuzz receipt mark-up"
  if tests/fuzz/run.sh build/fuzz 60 >build/fuzz.log 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); failures+=("fuzz: receipt mark-up, see build/fuzz.log")
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)|ERROR|check failed' build/fuzz.log | tail -n 5
fi
# --- end of the add-on core block ---
if build_preset win32; then
  # The shipped form: 32-bit GUI programs.
  for exe in orvane_launcher Orvane orvane_updater; do
    [ -f "build/win32/bin/$exe.exe" ] || continue
    kind=$(file -b "build/win32/bin/$exe.exe")
    echo "$exe.exe: $kind"
    if [[ $kind == "PE32 executable (GUI) Intel 80386"* ]]; then passed=$((passed + 1))
    else failed=$((failed + 1)); failures+=("win32: $exe.exe is not a 32-bit GUI program"); fi
  done
  # One Wine prefix for the whole run.
  rm -rf build/win32/wineprefix
  # Wine runs 32-bit Windows programs as 32-bit Linux processes. A kernel
  # without 32-bit support refuses them ("Exec format error"); with an
  # emulator registered for them instead, a prefix takes many minutes and
  # the suites far longer than the run can afford. Then these tests are
  # counted as skipped, and the 64-bit build below runs the same suites.
  probe_limit=60
  if WINEPREFIX="$root/build/win32/wineprefix" timeout "$probe_limit" scripts/wine-run cmd /c exit \
       >build/wine-probe.log 2>&1; then
    run_ctest win32 -j1
  else
    [ "$?" -eq 124 ] && echo "Wine did not start a program within $probe_limit s" >>build/wine-probe.log
    WINEPREFIX="$root/build/win32/wineprefix" wineserver -k >/dev/null 2>&1 || true
    n=$(cd build/win32 && ctest -N | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')
    note "tests win32: not run, Wine cannot run programs on this machine"
    sed 's/^/  /' build/wine-probe.log | tail -n 3
    skipped=$((skipped + ${n:-0})); not_run+=("win32: ${n:-0} tests, Wine cannot run programs here (see build/wine-probe.log)")
  fi
fi
# The same sources built as 64-bit Windows programs, whose tests run under
# Wine's 64-bit loader on any 64-bit host.
if build_preset win64; then
  rm -rf build/win64/wineprefix
  WINEPREFIX="$root/build/win64/wineprefix" run_ctest win64 -j1
  WINEPREFIX="$root/build/win64/wineprefix" wineserver -k >/dev/null 2>&1 || true
fi
if [ -d tests/tsan ]; then
  build_preset tsan && run_ctest tsan -L tsan
fi
# Script-API suites of the add-on, in real Node.js runtimes: the runner is
# always the installed Node.js; each build's add-on is hosted in the runtime
# it was built for.
run_node() {
  local name=$1 build=$2; shift 2
  note "node tests, $name"
  local log="build/$name.node.log"
  ORVANE_BUILD="$root/$build" node --test "$@" >"$log" 2>&1
  tail -n 30 "$log"
  local np nf ns
  np=$(grep -E '^# pass ' "$log" | awk '{print $3}'); nf=$(grep -E '^# fail ' "$log" | awk '{print $3}')
  ns=$(grep -E '^# skipped ' "$log" | awk '{print $3}')
  if [ -z "$np" ]; then failed=$((failed + 1)); failures+=("$name: node runner did not finish"); return; fi
  passed=$((passed + np)); failed=$((failed + nf)); skipped=$((skipped + ${ns:-0}))
  [ "$nf" -gt 0 ] && failures+=("$name: $nf node tests failed")
}
if [ -d tests/node ] && ls tests/node/*.test.* >/dev/null 2>&1; then
  # Module generation 47, the client's runtime: Node.js 5.12.0, which the
  # preset fetches with npm. Built first, so both runs can check that each
  # runtime refuses the other generation's build.
  built47=0
  build_preset node47 && built47=1
  run_node native build/native tests/node/
  if [ "$built47" -eq 1 ]; then
    # The stand-in client is a current-Node.js program: its suite runs above only.
    run_node node47 build/node47 tests/node/api.test.mjs tests/node/print.test.mjs tests/node/bad_input.test.mjs tests/node/faults.test.mjs
  fi
fi

wineserver -k >/dev/null 2>&1 || true
if [ ${#not_run[@]} -gt 0 ]; then
  note "not run"; printf '  %s\n' "${not_run[@]}"
fi
if [ ${#failures[@]} -gt 0 ]; then
  note "failures"; printf '  %s\n' "${failures[@]}"
fi
echo
if [ "$skipped" -gt 0 ]; then echo "$passed passed, $failed failed, $skipped skipped"
else echo "$passed passed, $failed failed"; fi
[ "$failed" -eq 0 ]
