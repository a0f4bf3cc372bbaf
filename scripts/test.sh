#!/usr/bin/env bash
# Builds and runs the test suite.
#   scripts/test.sh          the whole suite (build/)
#   scripts/test.sh asan     the whole suite under AddressSanitizer + UBSan (build-asan/)
#   scripts/test.sh tsan     the concurrency tests under ThreadSanitizer (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."

variant=${1:-plain}
"$(pwd)/scripts/deps.sh"

# Sanitizer builds use -O1 -g1: what the sanitizers recommend, and about half
# the compile time of -O2 -g.
light=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DQM_BUILD_BENCH=OFF)
case "$variant" in
  plain) dir=build; flags=(); filter=() ;;
  asan)  dir=build-asan; flags=(-DQM_SANITIZE=address,undefined "${light[@]}"); filter=() ;;
  tsan)  dir=build-tsan; flags=(-DQM_SANITIZE=thread "${light[@]}"); filter=(-R 'Concurrent') ;;
  *) echo "unknown variant: $variant" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
ninja -C "$dir" >"$dir/build.log" 2>&1 || { grep -E -A5 "error|FAILED" "$dir/build.log" | head -n 80; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

log="$dir/ctest.log"
set +e
scripts/with-services.sh ctest --test-dir "$dir" -j2 --output-on-failure --timeout 600 "${filter[@]}" >"$log" 2>&1
rc=$?
set -e
grep -E '^\s*[0-9]+/[0-9]+ Test .*(\*\*\*|Not Run)' "$log" | grep -v '\*\*\*Skipped' || true
passed=$(grep -cE '^\s*[0-9]+/[0-9]+ Test .* Passed +[0-9.]+ sec$' "$log" || true)
failed=$(grep -cE '^\s*[0-9]+/[0-9]+ Test .*(\*\*\*(Failed|Timeout|Exception)|Not Run)' "$log" || true)
skipped=$(grep -cE '^\s*[0-9]+/[0-9]+ Test .*\*\*\*Skipped' "$log" || true)
if [[ $rc -ne 0 ]]; then
  sed -n '/The following tests FAILED/,$p' "$log"
  grep -vE '^\s*([0-9]+/[0-9]+ Test .* Passed|Start )' "$log" | tail -n 120
fi
echo "[$variant] $passed passed, $failed failed, $skipped skipped"
exit $rc
