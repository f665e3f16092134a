#!/usr/bin/env bash
# Builds the fuzz targets (a clang tree of their own, build-fuzz) and runs
# every one of them for SECONDS seconds (default 60) over its seed corpus,
# which the fixture library writes afresh, and the corpus it has grown
# before (build-fuzz/fuzz/corpus, kept between runs). Prints each target's
# executions per second and coverage; fails when any target finds a crash,
# a hang, a leak or a broken check, whose input is kept in
# build-fuzz/fuzz/findings.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
tree=build-fuzz
jobs=$(nproc)

if [ ! -f "$tree/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DSQV64_BUILD_FUZZERS=ON -DSQV64_BUILD_TESTS=OFF -DSQV64_BUILD_BENCHMARKS=OFF \
    "${launcher[@]}" >/dev/null
fi
cmake --build "$tree" -j "$jobs" --target fuzzers

fuzz="$tree/fuzz"
rm -rf "$fuzz/seeds"
"$fuzz/make_seed_corpora" "$fuzz/seeds"
mkdir -p "$fuzz/corpus" "$fuzz/findings" "$fuzz/logs"
# The weather targets work in a folder of files; in memory they run ten
# times faster.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

failed=()
printf '\n%-24s %10s %8s %8s %8s\n' target "exec/s" cov ft corpus
while read -r target; do
  [ -n "$target" ] || continue
  corpus="$fuzz/corpus/$target"
  log="$fuzz/logs/$target.log"
  mkdir -p "$corpus"
  status=0
  "$fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$fuzz/findings/$target-" \
    "$corpus" "$fuzz/seeds/$target" >"$log" 2>&1 || status=$?
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  coverage=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$coverage")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$coverage")
  units=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$coverage")
  printf '%-24s %10s %8s %8s %8s\n' "$target" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${units:-?}"
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "  $target failed (exit $status); its log: $log" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*Test unit written to)' "$log" | head -5 >&2 || true
  fi
done <"$fuzz/fuzzers.txt"

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
