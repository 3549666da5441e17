# Sourced by run.sh: the updater network's part of `make run`. Local stand-ins
# of the upgrade and statistics services run for the length of the run, the
# run's updater is built against them, and ShopInfo.ini names a demo merchant,
# so the launch report and the first update check can be watched. The
# stand-in names the running version, so nothing is installed.

network_fail() {
  kill "$network_pid" 2>/dev/null || true
  tail -n 40 "$2"
  echo "$1" >&2
  exit 1
}

# Uses `root`, `build`, `bin`, `sandbox` and `work`; may change `bin`.
network_prepare() {
  local port_file="$sandbox/services.port" deadline
  network_log="$sandbox/services.log"
  rm -f "$port_file"
  : >"$network_log"
  # In the work folder and a session of its own: run.sh ends it with the programs.
  (cd "$work" && exec setsid python3 "$root/tests/http_server/standin_services.py" --port-file "$port_file" \
     >>"$network_log" 2>&1 </dev/null) &
  network_pid=$!
  deadline=$((SECONDS + 20))
  until [ -s "$port_file" ]; do
    if [ $SECONDS -ge $deadline ]; then network_fail "The stand-in services did not start." "$network_log"; fi
    sleep 0.1
  done
  local address="127.0.0.1:$(cat "$port_file")"

  # The run's updater: the same program, its three endpoint settings on the stand-ins.
  local run_build="$build/run-updater"
  echo "Building the run's updater against the stand-in services at $address ($run_build)..."
  if ! { cmake -S "$root" -B "$run_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF \
           -DORVANE_UPGRADE_PRODUCTION_URL="http://$address/upgrade" \
           -DORVANE_UPGRADE_TESTING_URL="http://$address/testing/upgrade" \
           -DORVANE_REPORT_HOST="$address" &&
         cmake --build "$run_build" -j"$(nproc)" --target orvane_updater; } >"$run_build.log" 2>&1; then
    network_fail "The build failed; the whole output is in $run_build.log" "$run_build.log"
  fi
  # The launcher starts the updater beside it. The installation folder gets the
  # run's copy (the next build puts the built one back); the build's own bin
  # folder stays untouched, its programs are copied to a folder of the run.
  if [ "$bin" = "$build/bin" ]; then
    mkdir -p "$sandbox/programs"
    cp "$bin/orvane_launcher" "$bin/Orvane" "$sandbox/programs/"
    bin="$sandbox/programs"
  fi
  # Renamed into place, so a copy still running from there does not block it.
  cp "$run_build/bin/orvane_updater" "$bin/.orvane_updater.new"
  mv -f "$bin/.orvane_updater.new" "$bin/orvane_updater"
  [ -f "$work/ShopInfo.ini" ] || printf '[reportinfo]\r\nurlvalue=https://demo-shop-1001\r\n' >"$work/ShopInfo.ini"
  echo "Stand-in upgrade and statistics services at http://$address (log: $network_log)"
}

network_show() {
  [ -n "${network_log:-}" ] || return 0
  echo "--- stand-in services (following): the launch report and the update check"
  (cd "$work" && exec setsid tail -n +1 -f "$network_log" </dev/null &)
}
