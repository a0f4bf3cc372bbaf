#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
"$(pwd)/scripts/deps.sh"

if ! ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "[fuzz] no fuzz targets"
  exit 0
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQM_BUILD_FUZZ=ON -DQM_BUILD_TESTS=OFF \
  -DQM_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" >/dev/null
ninja -C build-fuzz >build-fuzz/build.log 2>&1 || { grep -E -A5 "error|FAILED" build-fuzz/build.log | head -n 80; exit 1; }
for src in fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "fuzz/corpus/$name" ]] && seeds=("fuzz/corpus/$name")
  echo "[fuzz] $name for ${seconds}s"
  "build-fuzz/fuzz/$name" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" \
    >"build-fuzz/$name.log" 2>&1 || { tail -n 60 "build-fuzz/$name.log"; exit 1; }
  grep -E '^(#[0-9]+\s+DONE|Done)' "build-fuzz/$name.log" | tail -n 1 || true
done
echo "[fuzz] all targets clean"
