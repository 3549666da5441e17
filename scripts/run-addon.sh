# Sourced by run.sh: the print add-on's part of `make run`. The programs run
# from the installation folder beside the build's bin folder, where the
# stand-in client Orvane (Node.js) hosts binding.node; a fake USB receipt
# printer takes the sample receipt the client prints at start.

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
  # A plain file: each device cycle writes it from its start, and the sample
  # receipt is one cycle.
  : >"$addon_usb/dev/usb/lp0"
  export ORVANE_SYSFS_ROOT="$addon_usb/sys" ORVANE_DEV_ROOT="$addon_usb/dev" ORVANE_PRINT_SAMPLE=1
  # This run's receipt alone in the log, on the printer the client picks.
  rm -f "$bin/log/kesto.log" "$bin/config.ini"
  echo "Add-on: Orvane hosts $bin/binding.node; fake USB printer VID_0416&PID_5011 at $addon_usb/dev/usb/lp0"
}

addon_show() {
  [ -n "${addon_usb:-}" ] || return 0
  local log="$bin/log/kesto.log"
  for _ in $(seq 100); do
    grep -qa 'printAsync ret:' "$log" 2>/dev/null && break
    sleep 0.1
  done
  echo "--- sample receipt: the bytes the USB printer received"
  od -A d -t x1z -v "$addon_usb/dev/usb/lp0"
  # The same bytes drawn as the printer would print them (receipt_view/).
  local viewer png="$sandbox/sample-receipt.png"
  viewer="$(dirname "$bin")/bin/orvane_receipt_view"
  if [ -x "$viewer" ] && "$viewer" --escpos "$addon_usb/dev/usb/lp0" --paper 80 -o "$png" >"$sandbox/sample-receipt.log" 2>&1; then
    echo "--- sample receipt drawn: $png"
    [ -t 1 ] && "$viewer" --escpos "$addon_usb/dev/usb/lp0" --paper 80 -o "$png" --preview | sed '$d'
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
