# Sourced by run.sh: the print add-on's part of `make run`. The programs run
# from the installation folder beside the build's bin folder, where the
# stand-in client Orvane (Node.js) hosts binding.node; a fake USB receipt
# printer on a pseudo-terminal (tests/doubles/pty_printer.py) takes the sample
# receipt the client prints at start and answers the add-on's status queries.

# Uses and may change the caller's `bin`; needs `sandbox`.
addon_prepare() {
  local install
  install="$(dirname "$bin")/install"
  [ -x "$install/Orvane" ] || return 0
  bin="$install"
  addon_usb="$sandbox/usb-printer"
  rm -rf "$addon_usb"
  local device="$addon_usb/sys/bus/usb/devices/1-1"
  mkdir -p "$device" "$device:1.0/usbmisc/lp0" "$addon_usb/sys/bus/usb/drivers/usblp" "$addon_usb/dev/usb"
  echo 0416 >"$device/idVendor"
  echo 5011 >"$device/idProduct"
  echo "Receipt Printer" >"$device/product"
  echo 07 >"$device:1.0/bInterfaceClass"
  ln -s "$addon_usb/sys/bus/usb/drivers/usblp" "$device:1.0/driver"
  # It keeps the receipt's bytes in printer/received and runs until the run
  # ends (addon_stop) or its folder goes.
  mkdir -p "$addon_usb/printer"
  python3 "$root/tests/doubles/pty_printer.py" "$addon_usb/dev/usb/lp0" "$addon_usb/printer" --state ready &
  for _ in $(seq 100); do [ -e "$addon_usb/printer/ready" ] && break; sleep 0.1; done
  export ORVANE_SYSFS_ROOT="$addon_usb/sys" ORVANE_DEV_ROOT="$addon_usb/dev" ORVANE_PRINT_SAMPLE=1
  # This run's receipt alone in the log, on the printer the client picks.
  rm -f "$bin/log/kesto.log" "$bin/config.ini"
  echo "Add-on: Orvane hosts $bin/binding.node; fake USB printer VID_0416&PID_5011 at $addon_usb/dev/usb/lp0"
}

addon_stop() {
  [ -n "${addon_usb:-}" ] && : >"$addon_usb/printer/stop"
  return 0
}

addon_show() {
  [ -n "${addon_usb:-}" ] || return 0
  local log="$bin/log/kesto.log"
  for _ in $(seq 100); do
    grep -qa 'printAsync ret:' "$log" 2>/dev/null && break
    sleep 0.1
  done
  local received="$addon_usb/printer/received"
  # The printer writes down what it has read so far, then removes the file.
  : >"$addon_usb/printer/sync"
  for _ in $(seq 100); do [ -e "$addon_usb/printer/sync" ] || break; sleep 0.05; done
  echo "--- sample receipt: the bytes the USB printer received"
  od -A d -t x1z -v "$received"
  echo "--- what the add-on asked the printer (DLE EOT 1, 2, 4 before the receipt; GS r 1, DLE EOT 2, 4 after it)"
  tr '\n' ' ' <"$addon_usb/printer/queries"; echo
  # The word a script gets from NoDriverGetStatus: "unknown" at once, then
  # the answer to the query that call queued.
  echo "--- printer status: $(node -e '
    const binding = require(process.argv[1]);
    binding.NoDriverGetStatus("VID_0416&PID_5011");
    const ask = () => { const word = binding.NoDriverGetStatus("VID_0416&PID_5011");
      if (word === "unknown") setTimeout(ask, 50); else console.log(word); };
    ask();' "$bin/binding.node" 2>&1)"
  # The same bytes drawn as the printer would print them (receipt_view/).
  local viewer png="$sandbox/sample-receipt.png"
  viewer="$(dirname "$bin")/bin/orvane_receipt_view"
  if [ -x "$viewer" ] && "$viewer" --escpos "$received" --paper 80 -o "$png" >"$sandbox/sample-receipt.log" 2>&1; then
    echo "--- sample receipt drawn: $png"
    [ -t 1 ] && "$viewer" --escpos "$received" --paper 80 -o "$png" --preview | sed '$d'
  else
    echo "--- sample receipt not drawn:"
    cat "$sandbox/sample-receipt.log" 2>/dev/null
  fi
  echo
  echo "--- add-on log ($log)"
  tr -d '\r' <"$log" 2>/dev/null || echo "  (none)"
  echo
  echo "--- config.ini"
  tr -d '\r' <"$bin/config.ini" 2>/dev/null || echo "  (none)"
  echo
}
