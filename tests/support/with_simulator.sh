#!/usr/bin/env bash
# Runs a program against a device simulator started here on loopback:
#   with_simulator.sh [--display] VDEVICE 'SIMULATOR OPTIONS' PROGRAM [ARGS...]
# In ARGS, @NXL@ and @OCT@ become the first device's Nxl and OCT ports and
# @NUMBER@ its device number; in the options @PID@ becomes this script's
# process id (a device number of its own). With --display the program runs
# on a private X server. Exits with the program's status.
set -euo pipefail
display=no
if [ "$1" = --display ]; then display=yes; shift; fi
vdevice=$1
read -ra options <<<"${2//@PID@/$$}"
shift 2

scratch=$(mktemp -d)
sim_pid="" xvfb_pid=""
cleanup() {
  # The simulator ends when its input closes; the X server on a signal.
  [ -n "$sim_pid" ] && { eval "exec ${sim_in}>&-"; wait "$sim_pid" || true; }
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid"; wait "$xvfb_pid" || true; }
  rm -rf "$scratch"
}
trap cleanup EXIT

coproc SIM { exec "$vdevice" --until-stdin-closes "${options[@]}"; }
# shellcheck disable=SC2153 # SIM_PID is set by coproc
sim_pid=$SIM_PID sim_in=${SIM[1]} sim_out=${SIM[0]}
nxl="" oct="" number=""
while IFS= read -r -t 30 line <&"$sim_out"; do
  if [[ -z $nxl && $line =~ ^device\ 0\ nxl=[0-9.]+:([0-9]+)\ oct=[0-9.]+:([0-9]+)\ number=([^ ]+) ]]; then
    nxl=${BASH_REMATCH[1]} oct=${BASH_REMATCH[2]} number=${BASH_REMATCH[3]}
  fi
  [ "$line" = ready ] && break
done
[ -n "$nxl" ] || { echo "with_simulator: the simulator reported no device" >&2; exit 1; }

if [ $display = yes ]; then
  # Xvfb writes its display number to the pipe once it accepts clients.
  mkfifo "$scratch/display"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$scratch/display" 2>/dev/null &
  xvfb_pid=$!
  read -r -t 30 n <"$scratch/display" || { echo "with_simulator: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$n
fi

args=()
for a in "${@:2}"; do
  a=${a//@NXL@/$nxl} a=${a//@OCT@/$oct} a=${a//@NUMBER@/$number}
  args+=("$a")
done
cd "$scratch"
"$1" "${args[@]}"
