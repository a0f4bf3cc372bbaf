#!/usr/bin/env bash
# Runs a command with the services the tests use, started privately in the
# foreground and stopped afterwards: a session D-Bus daemon and a MariaDB
# server on a socket in a short temporary folder. Exports
# DBUS_SESSION_BUS_ADDRESS and QM_TEST_MYSQL_SOCKET for the command.
set -euo pipefail

SVC_DIR=$(mktemp -d /tmp/qmsvc.XXXXXX)
DBUS_PID=""
MARIADB_PID=""

cleanup() {
  if [[ -n "$MARIADB_PID" ]]; then
    mariadb-admin --no-defaults --socket="$SVC_DIR/mysqld.sock" -uroot shutdown >/dev/null 2>&1 || kill "$MARIADB_PID" 2>/dev/null || true
    wait "$MARIADB_PID" 2>/dev/null || true
  fi
  if [[ -n "$DBUS_PID" ]]; then
    kill "$DBUS_PID" 2>/dev/null || true
    wait "$DBUS_PID" 2>/dev/null || true
  fi
  rm -rf "$SVC_DIR"
}
trap cleanup EXIT

# Session bus.
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$SVC_DIR/bus.addr" &
DBUS_PID=$!
for _ in $(seq 100); do [[ -s "$SVC_DIR/bus.addr" ]] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$SVC_DIR/bus.addr")

# MariaDB (only when the server is installed).
if command -v mariadbd >/dev/null && command -v mariadb-install-db >/dev/null; then
  mariadb-install-db --no-defaults --user=root --datadir="$SVC_DIR/db" --skip-test-db \
    --auth-root-authentication-method=socket >"$SVC_DIR/install.log" 2>&1
  mariadbd --no-defaults --user=root --datadir="$SVC_DIR/db" --socket="$SVC_DIR/mysqld.sock" \
    --pid-file="$SVC_DIR/mysqld.pid" --skip-networking --log-error="$SVC_DIR/err.log" \
    --innodb-buffer-pool-size=64M --character-set-server=utf8mb4 &
  MARIADB_PID=$!
  for _ in $(seq 300); do
    mariadb-admin --no-defaults --socket="$SVC_DIR/mysqld.sock" -uroot ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  export QM_TEST_MYSQL_SOCKET="$SVC_DIR/mysqld.sock"
fi

"$@"
