#!/usr/bin/env bash
# The package's udev rule, through `udevadm test` on mocked devices
# (umockdev). udevadm test writes into /dev and /run/udev, so every case runs
# in a private mount namespace with its own /run, /dev and rules directory:
# the machine's own are never touched.
set -uo pipefail
rule=$(cd "$(dirname "$0")/../../packaging" && pwd)/60-zorvadmin-usblp.rules
if [ "$(id -u)" != 0 ]; then echo "skipped: a private mount namespace needs root"; exit 77; fi
work=$(mktemp -d /tmp/zorvudev.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/rules" && cp "$rule" "$work/rules/"

# device SERIAL DRIVER NODE: a host controller, a hub, the printer and its interface.
device() {
  local usb=/devices/pci0000:00/0000:00:14.0/usb1/1-2
  printf 'P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\n\n'
  printf 'P: /devices/pci0000:00/0000:00:14.0/usb1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n\n'
  printf 'P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: manufacturer=Zorv\nA: product=ZPR4410\n' "$usb"
  printf 'A: idVendor=1234\nA: idProduct=5678\n%s\n' "${1:+A: serial=$1
}"
  printf 'P: %s/1-2:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=07\n' "$usb"
  printf 'A: bInterfaceNumber=00\nL: driver=../../../../../bus/usb/drivers/%s\n\n' "$2"
  printf 'P: %s/1-2:1.0/usbmisc/%s\nN: usb/%s\nE: SUBSYSTEM=usbmisc\nE: MAJOR=180\nE: MINOR=0\nA: dev=180:0\n' \
    "$usb" "$3" "$3"
}

# In the namespace: fresh /run and /dev (a devpts of its own, /dev/ptmx and
# /dev/null for umockdev-run), the rule as the only local rule.
udev_links() {  # udev_links DESCRIPTION NODE
  unshare -m sh -ec '
    mount -t tmpfs tmpfs /run
    mount -t tmpfs tmpfs /dev
    mkdir /dev/pts
    mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
    ln -s pts/ptmx /dev/ptmx
    mknod -m 666 /dev/null c 1 3
    mount --bind "$1/rules" /etc/udev/rules.d
    umockdev-run -d "$2" -- udevadm test "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/usbmisc/$3" 2>/dev/null
  ' sh "$work" "$1" "$2" >"$work/out"
  grep -q '^DEVPATH=' "$work/out" || { echo "(udevadm test failed)"; return; }
  sed -n 's/^DEVLINKS=//p' "$work/out" | tr ' ' '\n' | sort | paste -sd' ' -
}

by_id=/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
by_path=/dev/usb/by-path/pci-0000:00:14.0-usb-0:2:1.0-lp
# case | serial | driver | node | links udev makes
cases="a printer with a serial|A-1|usblp|lp0|$by_id $by_path
a printer without one: the port only||usblp|lp0|$by_path
another driver's usbmisc device|A-1|usbhid|hiddev0|"
failed=0
while IFS='|' read -r name serial driver node expected; do
  device "$serial" "$driver" "$node" >"$work/device.umockdev"
  got=$(udev_links "$work/device.umockdev" "$node")
  if [ "$got" = "$expected" ]; then echo "PASS $name"; else echo "FAIL $name: expected '$expected', got '$got'"; failed=1; fi
done <<<"$cases"
exit $failed
