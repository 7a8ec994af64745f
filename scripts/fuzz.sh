#!/usr/bin/env bash
# Builds the libFuzzer targets (DrawString, DrawNumber, BlitKeyed) with clang,
# AddressSanitizer and UBSan into build-fuzz/ and runs each from the seed
# corpus in tests/reliability/fuzz/corpus. Exits non-zero on any finding.
#   scripts/fuzz.sh               short run: 20 s per target (part of the test command)
#   scripts/fuzz.sh --long        3,400,000 executions per target, over 10 million in all
#   scripts/fuzz.sh --runs N      N executions per target
#   scripts/fuzz.sh --seconds S   S seconds per target
# New inputs go to build-fuzz/corpus/, findings to build-fuzz/findings/
# (TOVALINEX_FUZZ_BUILD names another build directory).
set -euo pipefail
cd "$(dirname "$0")/.."
limit=(-max_total_time=20)
case "${1:-}" in
  "" | --short) ;;
  --long) limit=(-runs=3400000) ;;
  --runs) limit=(-runs="$2") ;;
  --seconds) limit=(-max_total_time="$2") ;;
  *) echo "usage: $0 [--short | --long | --runs N | --seconds S]" >&2; exit 2 ;;
esac

build="${TOVALINEX_FUZZ_BUILD:-build-fuzz}"
cmake -S tests/reliability/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
mkdir -p "$build/findings" "$build/logs"

failed=0
printf '%-11s %12s %8s %9s\n' target executions seconds findings
for target in DrawString DrawNumber BlitKeyed; do
  mkdir -p "$build/corpus/$target"
  log="$build/logs/$target.log"
  start=$(date +%s)
  status=0
  "$build/Fuzz$target" "$build/corpus/$target" "tests/reliability/fuzz/corpus/$target" \
    "${limit[@]}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$target-" >"$log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  findings=0
  if [ "$status" -ne 0 ]; then
    findings=1
    failed=1
  fi
  printf '%-11s %12s %8s %9s\n' "$target" "${runs:-?}" "$seconds" "$findings"
  if [ "$status" -ne 0 ]; then
    grep -E 'fuzz:|ERROR|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
  fi
done
exit "$failed"
