#!/usr/bin/env bash
# Fuzzes the parsers: builds their targets (tests/fuzz) with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz, then runs
# each in turn for SECONDS (60 unless given) from its corpus in
# tests/fuzz/corpus/<target>, one process at a time.
#
#   scripts/fuzz.sh [--merge] [SECONDS] [TARGET...]
#
# Inputs that reach new code collect in build-fuzz/found/<target>; with
# --merge those that add coverage to the corpus join it afterwards (commit
# them: the normal test suite replays the corpus). A crash, a sanitizer's
# report or a failed check leaves its input in build-fuzz/findings/<target>/
# and makes the script fail. Logs: build-fuzz/logs/<target>.log. The summary
# gives per target the executions, libFuzzer's cov: and corp: figures at the
# end, the corpus's size in files and whether anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(hex_text cfg hdlc ppp icni ansi log_record frames)
merge=0
if [ "${1:-}" = --merge ]; then
  merge=1
  shift
fi
seconds=${1:-60}
if [ $# -gt 0 ]; then
  shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${all_targets[@]}")
fi
case "$seconds" in
'' | *[!0-9]*) echo "usage: $0 [--merge] [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

bash scripts/setup.sh --fuzz
compiler=$(command -v clang++-14 || command -v clang++)
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
  -DKESTRELON_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_targets -j2

if command -v llvm-symbolizer-14 >/dev/null; then
  export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$(command -v llvm-symbolizer-14)}
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=0
summary=$(printf '%-12s %12s %8s %8s %8s  %s' target executions cov corp files findings)
for target in "${targets[@]}"; do
  program=build-fuzz/tests/fuzz/fuzz_$target
  corpus=tests/fuzz/corpus/$target
  found=build-fuzz/found/$target
  findings=build-fuzz/findings/$target
  log=build-fuzz/logs/$target.log
  if [ ! -x "$program" ]; then
    echo "fuzz: no target $target (targets: ${all_targets[*]})" >&2
    exit 2
  fi
  mkdir -p "$corpus" "$found" "$findings" "$(dirname "$log")"
  echo "fuzz: $target for ${seconds}s" >&2
  status=0
  "$program" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$found" "$corpus" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  if [ "$merge" = 1 ] && [ "$status" = 0 ]; then
    "$program" -merge=1 "$corpus" "$found" >"$log.merge" 2>&1
  fi
  files=$(find "$corpus" -type f | wc -l)
  if [ "$status" = 0 ]; then
    result=none
  else
    result="FOUND (exit $status): $(ls "$findings" | tr '\n' ' ')"
    failed=1
    grep -E -m3 'ERROR|runtime error|check failed|SUMMARY' "$log" >&2 || true
  fi
  summary+=$'\n'$(printf '%-12s %12s %8s %8s %8s  %s' "$target" "${executions:-?}" "${cov:-?}" \
    "${corp:-?}" "$files" "$result")
done
echo "$summary"
exit $failed
