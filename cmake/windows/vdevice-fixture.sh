#!/bin/sh
# The native simulator the Windows tests take their devices from (run by
# ctest as a fixture, outside wine):
#   vdevice-fixture.sh start VDEVICE PORT_FILE   starts it, writes its control port
#   vdevice-fixture.sh stop PORT_FILE            stops it
# Its process id is kept in PORT_FILE.pid, its output in PORT_FILE.out.
set -eu
case "$1" in
start)
  rm -f "$3"
  # Nothing of ctest's is inherited: ctest waits for its output to close.
  "$2" --control-port 0 <"/dev/null" >"$3.out" 2>&1 &
  echo $! >"$3.pid"
  for _ in $(seq 200); do
    port=$(sed -n 's/^control 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$3.out")
    if [ -n "$port" ]; then
      echo "$port" >"$3"
      exit 0
    fi
    kill -0 "$(cat "$3.pid")" 2>/dev/null || break
    sleep 0.1
  done
  cat "$3.out"
  exit 1
  ;;
stop)
  if [ -f "$2.pid" ]; then kill "$(cat "$2.pid")" 2>/dev/null || true; fi
  rm -f "$2" "$2.pid"
  ;;
esac
