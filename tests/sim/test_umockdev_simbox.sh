#!/bin/sh
# varnex2-simbox end to end: scenario files, exit status, the tree the child sees.
set -u
simbox=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

printf 'name t\n0s remove\n50ms place\n' > "$dir/ok.txt"
"$simbox" --scenario "$dir/ok.txt" -- true || fail "valid scenario file refused"
printf 'name t\nbogus line\n' > "$dir/bad.txt"
"$simbox" --scenario "$dir/bad.txt" -- true 2>/dev/null
[ $? -eq 2 ] || fail "malformed scenario file accepted"
"$simbox" --scenario no-such-scenario -- true 2>/dev/null
[ $? -eq 2 ] || fail "unknown scenario accepted"

"$simbox" -- sh -c 'exit 3'
[ $? -eq 3 ] || fail "exit status not forwarded"
"$simbox" -- sh -c 'kill -TERM $$'
[ $? -eq 143 ] || fail "death by signal not reported as 128+signal"
"$simbox" -- "$dir/no-such-program" 2>/dev/null
[ $? -eq 127 ] || fail "missing program not reported as 127"

"$simbox" --scenario idle -- sh -c \
  'test -n "$UMOCKDEV_DIR" && test -e /sys/bus/usb/devices/1-1 && test -e /dev/hidraw0' ||
  fail "the emulated tree is not visible to the child"
# An ordinary USB tool sees the bus as on a real host: the root hub, the bridge, and the
# controller with its two HID interfaces.
if command -v lsusb >/dev/null 2>&1; then
  "$simbox" --scenario idle -- lsusb -v > "$dir/lsusb.txt" 2>&1 || fail "lsusb -v failed: $(cat "$dir/lsusb.txt")"
  for ids in 1d6b:0002 04b4:e006 03eb:212c; do
    grep -q "^Bus 001 Device [0-9]*: ID $ids" "$dir/lsusb.txt" || fail "lsusb does not list $ids"
  done
  hid=$(awk '/^Bus /{dev=$6} dev=="03eb:212c" && /bInterfaceClass/ && $2==3' "$dir/lsusb.txt" | wc -l)
  [ "$hid" -eq 2 ] || fail "the controller shows $hid HID interfaces in lsusb, not 2"
  grep -q "iInterface *3 Atmel maXTouch Control" "$dir/lsusb.txt" || fail "no controller interface string"
else
  echo "lsusb not installed: bus listing not checked"
fi
printf 'name s\n0s scan ABC123\n' > "$dir/scan.txt"
code=$("$simbox" --scenario "$dir/scan.txt" -- sh -c 'timeout 5 head -c 6 "$VARNEX2_SIM_SCANNER_PORT"')
[ "$code" = "ABC123" ] || fail "scanned code not delivered on the scanner port (got '$code')"
echo ok
