#!/usr/bin/env bash
# The test run's build step judges a build by the build's own exit status,
# never by what it prints: a stand-in cmake on PATH configures and builds as
# each case says.
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/build"
cat >"$work/bin/cmake" <<'STANDIN'
#!/bin/sh
if [ "$1" = "--build" ]; then printf '%b' "$BUILD_SAYS"; exit "$BUILD_STATUS"; fi
exit "$CONFIGURE_STATUS"
STANDIN
chmod +x "$work/bin/cmake"
export PATH="$work/bin:$PATH"
cd "$work"
jobs=1
. "$repo/scripts/test-steps.sh"

# name | configure status | build status | what the build prints | step's result | failure listed
cases=(
  "fails without a word of error|0|2|[100%] Linking CXX executable bin/x\ngmake: *** [Makefile:101: all] Error 2\n|1|p: build failed"
  "fails, killed, printing nothing|0|137||1|p: build failed"
  "fails with a compiler error|0|1|x.cpp:3:1: error: expected ';'\n|1|p: build failed"
  "builds, with error in a file name|0|0|Building CXX object error_page.cpp.o\n|0|"
  "configure fails|1|0||1|p: configure failed"
)
bad=0
for entry in "${cases[@]}"; do
  IFS='|' read -r name CONFIGURE_STATUS BUILD_STATUS BUILD_SAYS want_result want_failure <<<"$entry"
  export CONFIGURE_STATUS BUILD_STATUS BUILD_SAYS
  failed=0
  failures=()
  build_preset p >"$work/out" 2>&1
  result=$?
  listed="${failures[*]:-}"
  counted=$([ -n "$want_failure" ] && echo 1 || echo 0)
  if [ "$result" = "$want_result" ] && [ "$listed" = "$want_failure" ] && [ "$failed" = "$counted" ]; then
    echo "ok - $name"
  else
    echo "not ok - $name: result $result (wanted $want_result), failures '$listed', failed $failed"
    sed 's/^/  /' "$work/out"
    bad=1
  fi
done
exit $bad
