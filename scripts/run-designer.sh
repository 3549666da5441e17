# Sourced by run.sh: the receipt designer (orvane_receipt_view --serve) runs
# in the background for the whole run, from the work folder and in a session
# of its own, so the run's Ctrl-C ends it with the programs the launcher
# started. Needs `build`, `sandbox` and `work`.

designer_start() {
  local viewer="$build/bin/orvane_receipt_view" log="$sandbox/designer.log"
  designer_url=
  [ -x "$viewer" ] || return 0
  (cd "$work" && exec setsid "$viewer" --serve </dev/null >"$log" 2>&1) &
  for _ in $(seq 50); do
    designer_url=$(grep -o 'http://127\.0\.0\.1:[0-9]*/' "$log" 2>/dev/null) && break
    sleep 0.1
  done
}

designer_show() {
  if [ -n "${designer_url:-}" ]; then
    echo "--- receipt designer: $designer_url (type a receipt; see its paper, bytes, order id and warnings)"
  else
    echo "--- receipt designer did not start:"
    cat "$sandbox/designer.log" 2>/dev/null || true
  fi
  echo
}
