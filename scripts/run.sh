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
exec ../qmdriver "$@"
