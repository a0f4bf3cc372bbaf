#!/usr/bin/env bash
# Builds the Debian package, installs it on this machine, runs the service by
# hand as its user on the built-in emulator, checks it with
# "qmctl --system status", and purges the package again. Needs root; starts a
# system bus when none runs (and stops it afterwards).
set -euo pipefail
cd "$(dirname "$0")/.."
"$(pwd)/scripts/deps.sh"

# The test command's build (package files go to /usr whatever its prefix).
dir=build
cmake -S . -B "$dir" -G Ninja >/dev/null
ninja -C "$dir" >"$dir/build.log" 2>&1 || { grep -E -A5 "error|FAILED" "$dir/build.log" | head -n 80; exit 1; }
rm -f "$dir"/qmdriver_*.deb
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { tail -n 40 "$dir/cpack.log"; exit 1; }
deb=$(ls "$dir"/qmdriver_*.deb)
echo "[package] built $(basename "$deb")"

bus_pid=""
driver_pid=""
cleanup() {
  [[ -n "$driver_pid" ]] && kill -TERM "$driver_pid" 2>/dev/null && wait "$driver_pid" 2>/dev/null || true
  dpkg -P qmdriver >/dev/null 2>&1 || true
  if [[ -n "$bus_pid" ]]; then
    kill "$bus_pid" 2>/dev/null || true
    rm -f /run/dbus/system_bus_socket /run/dbus/pid
  fi
}
trap cleanup EXIT

dpkg -i "$deb" >/dev/null
for path in /usr/bin/qmdriver /usr/bin/qmctl /usr/share/qmdriver/qmdriver.cfg /usr/lib/systemd/system/qmdriver.service \
            /usr/share/dbus-1/system.d/org.quillmoor.GSM.conf /usr/share/dbus-1/system-services/org.quillmoor.GSM.service \
            /usr/share/man/man5/qmdriver.cfg.5; do
  [[ -e "$path" ]] || { echo "[package] missing after install: $path"; exit 1; }
done
# The units as systemd reads them (where its tools are installed).
if command -v systemd-analyze >/dev/null; then
  SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no /usr/lib/systemd/system/qmdriver.service \
    /usr/lib/systemd/system/qmdriver@.service || { echo "[package] systemd rejects the units"; exit 1; }
fi
id -nG qmdriver | grep -qw dialout || { echo "[package] qmdriver is not in dialout"; exit 1; }
[[ "$(stat -c %U /var/lib/qmdriver)" == qmdriver ]] || { echo "[package] /var/lib/qmdriver is not qmdriver's"; exit 1; }

# The system bus reads the driver's policy when it starts (or reloads).
if ! dbus-send --system --type=method_call --dest=org.freedesktop.DBus / \
       org.freedesktop.DBus.ReloadConfig 2>/dev/null; then
  mkdir -p /run/dbus
  rm -f /run/dbus/system_bus_socket /run/dbus/pid  # left by a bus that is gone
  bus_pid=$(dbus-daemon --system --fork --print-pid)
fi

# A setting changed before the first start goes to the service's key store,
# written as the service's user even when root asks.
[[ "$(qmctl --system config set sender.retries 5)" == 5 ]] || { echo "[package] config set failed"; exit 1; }
left=$(find /var/lib/qmdriver ! -user qmdriver)
[[ -z "$left" ]] || { echo "[package] files of another user in /var/lib/qmdriver: $left"; exit 1; }

# As the unit runs it: its user, its folder, the service switch.
# (setpriv execs the driver itself, so the stop signal below reaches it.)
(cd /var/lib/qmdriver && exec setpriv --reuid=qmdriver --regid=qmdriver --init-groups /usr/bin/qmdriver -service) &
driver_pid=$!
ready=""
log="/var/lib/qmdriver/Quillmoor SMS/qmdriver.log"
for _ in $(seq 1 60); do
  # Only once it owns its name: before that, a call would start a second
  # copy through bus activation.
  if grep -qs "Automation server on the system bus" "$log" && out=$(qmctl --system status 2>&1) &&
     grep -q "ready" <<<"$out"; then ready=1; break; fi
  sleep 0.5
done
if [[ -z "$ready" ]]; then
  echo "[package] the service did not get ready:"; echo "$out"
  tail -n 30 "$log" 2>/dev/null || true
  exit 1
fi
echo "[package] qmctl --system status:"; sed 's/^/  /' <<<"$out"
[[ "$(qmctl --system config get sender.retries)" == 5 ]] || { echo "[package] the service lost sender.retries"; exit 1; }
kill -TERM "$driver_pid"
status=0
wait "$driver_pid" || status=$?
driver_pid=""
[[ $status -eq 0 ]] || { echo "[package] the service exited with $status on SIGTERM"; exit 1; }
grep -q "Stopped" "$log" || { echo "[package] no clean stop in the log"; exit 1; }

dpkg -P qmdriver >/dev/null
for path in /usr/bin/qmdriver /var/lib/qmdriver /usr/share/qmdriver; do
  [[ ! -e "$path" ]] || { echo "[package] left behind after purge: $path"; exit 1; }
done
! getent passwd qmdriver >/dev/null || { echo "[package] the qmdriver user is left"; exit 1; }
echo "[package] installed, ran as a service, and purged cleanly"
