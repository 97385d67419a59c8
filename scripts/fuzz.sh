#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a bounded time on a copy
# of its seed corpus in tests/fuzz/corpus. Prints executions and time per target; fails on the
# first crash, leaving the input that caused it in the printed folder.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-30}
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
work=$(mktemp -d /tmp/brenvik-fuzzrun.XXXXXX)
status=0
passed=0
failed=0
for target in fuzz_hostile_bus fuzz_module_replies fuzz_profile fuzz_state_parser; do
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  cp "tests/fuzz/corpus/$target/"* "$work/$target/corpus/"
  log="$work/$target/log"
  if "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target: $runs executions in $seconds s, no failure"
    passed=$((passed + 1))
  else
    echo "fuzz: $target FAILED; input and log in $work/$target"
    grep -E "ERROR|SUMMARY|abort" "$log" | head -n 5
    status=1
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$status" -eq 0 ] && rm -rf "$work"
exit "$status"
