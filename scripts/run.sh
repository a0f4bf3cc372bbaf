#!/usr/bin/env bash
# Installs what is needed, builds, and runs qmdriver in the foreground on a
# run folder (build/run) that holds the template configuration. Extra
# arguments go to qmdriver (e.g. -inst2, -noicon). Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(pwd)/scripts/deps.sh"
cmake -S . -B build -G Ninja >/dev/null
ninja -C build qmdriver qmctl >build/build.log 2>&1 || { grep -E -A5 "error|FAILED" build/build.log | head -n 80; exit 1; }
mkdir -p build/run
cp packaging/qmdriver.cfg build/run/qmdriver.cfg
cd build/run

# qmctl reaches the driver over the session bus. A shell without one (a
# server over ssh, a container) gets a bus of its own for this run.
runtime=${XDG_RUNTIME_DIR:-/tmp/qmdriver-$(id -u)}
if [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" && ! -S "$runtime/bus" ]]; then
  mkdir -p -m 0700 "$runtime"
  bus_pid=$(dbus-daemon --session --address="unix:path=$runtime/bus" --fork --print-pid)
  trap 'kill "$bus_pid" 2>/dev/null; rm -f "$runtime/bus"' EXIT
  echo "No session bus was running; started one for qmctl at $runtime/bus."
  if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    echo "In another terminal, before qmctl: export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus"
  fi
fi
[[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" && -S "$runtime/bus" ]] && export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
../qmdriver "$@"
