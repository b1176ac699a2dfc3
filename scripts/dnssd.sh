#!/usr/bin/env bash
# Starts, stops or checks DNS-SD (the system D-Bus and avahi-daemon), so the
# tests and the benchmark can run the way libcups runs on a desktop or print
# server, where every cupsGetDests browses the network.
#   scripts/dnssd.sh start    start what is not running yet
#   scripts/dnssd.sh stop     stop only what `start` started
#   scripts/dnssd.sh status   exit 0 when DNS-SD answers
# What `start` started is recorded in /run/zorv-dnssd/, so a daemon that was
# already running (the machine's own) is never stopped. An avahi-daemon
# started here announces on the loopback interface only: nothing of the
# tests leaves the machine.
set -euo pipefail
state=/run/zorv-dnssd
bus_socket=/run/dbus/system_bus_socket
bus_pidfile=/run/dbus/pid

bus_answers() {
  [ -S "$bus_socket" ] &&
    timeout 5 dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.GetId >/dev/null 2>&1
}

avahi_answers() {
  avahi-daemon --check 2>/dev/null && timeout 10 avahi-browse --all --terminate --parsable >/dev/null 2>&1
}

# alive PIDFILE NAME: the recorded process still runs and is NAME (a pid
# may have been reused since).
alive() {
  [ -f "$1" ] || return 1
  local pid
  pid=$(cat "$1")
  [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$2" ]
}

# gone PID: the process has ended (a zombie waiting for its reaper counts).
gone() { ! grep -qs '^State:[[:space:]]*[A-Y]' "/proc/$1/status"; }

# wait_for TRIES COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

start_bus() {
  bus_answers && return 0
  mkdir -p /run/dbus
  # A bus that died without cleaning up leaves its pid file and socket, and
  # dbus-daemon refuses to start over them.
  if [ -f "$bus_pidfile" ] && ! kill -0 "$(cat "$bus_pidfile")" 2>/dev/null; then rm -f "$bus_pidfile"; fi
  if [ ! -f "$bus_pidfile" ]; then rm -f "$bus_socket"; fi
  dbus-daemon --system --fork --print-pid >"$state/dbus.pid"
  wait_for 50 bus_answers || { echo "dnssd.sh: the system bus did not come up" >&2; return 1; }
}

start_avahi() {
  if avahi-daemon --check 2>/dev/null; then return 0; fi
  cat >"$state/avahi-daemon.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
  avahi-daemon --file="$state/avahi-daemon.conf" --no-drop-root --no-chroot --daemonize
  wait_for 50 avahi-daemon --check || { echo "dnssd.sh: avahi-daemon did not start" >&2; return 1; }
  cat /run/avahi-daemon/pid >"$state/avahi.pid"
  wait_for 100 avahi_answers || { echo "dnssd.sh: avahi-daemon does not answer on the bus" >&2; return 1; }
}

# stop_recorded PIDFILE NAME: ends the process that `start` recorded.
stop_recorded() {
  local pidfile=$1 name=$2
  if alive "$pidfile" "$name"; then
    local pid
    pid=$(cat "$pidfile")
    kill "$pid"
    wait_for 50 gone "$pid" || kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

case ${1:-} in
  start)
    mkdir -p "$state"
    start_bus
    start_avahi
    ;;
  stop)
    [ -d "$state" ] || exit 0
    stop_recorded "$state/avahi.pid" avahi-daemon
    if [ -f "$state/dbus.pid" ]; then
      bus_pid=$(cat "$state/dbus.pid")
      stop_recorded "$state/dbus.pid" dbus-daemon
      # dbus-daemon leaves both behind on SIGTERM; the next start would
      # otherwise find a dead socket.
      if [ -f "$bus_pidfile" ] && [ "$(cat "$bus_pidfile")" = "$bus_pid" ]; then rm -f "$bus_pidfile" "$bus_socket"; fi
    fi
    rm -f "$state/avahi-daemon.conf"
    rmdir "$state" 2>/dev/null || true
    ;;
  status)
    bus_answers && avahi_answers
    ;;
  *)
    echo "usage: $0 start|stop|status" >&2
    exit 2
    ;;
esac
