#!/usr/bin/env bash
# Runs the benchmarks inside a private network namespace with only loopback
# (tests/run_in_netns.sh): they send to the multicast group 235.1.2.3:9000.
#
#   bench/run.sh [BUILD_DIR] [round_trip_bench|app_latency|all] [--seconds N]
#
# BUILD_DIR defaults to ./build; the benchmark defaults to round_trip_bench.
# Options go to the benchmark: --seconds N (round_trip_bench: 2 to 8, default
# 6, per live part; app_latency: 3 to 600, default 60, per part), and for
# app_latency --rounds R, --threads, --only app|defaults|tuned. Build them first:
#   cmake --build BUILD_DIR --target round_trip_bench app_latency
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build"
if [ $# -gt 0 ] && [[ "$1" != --* ]] && [[ "$1" != round_trip_bench && "$1" != app_latency && "$1" != all ]]; then
  build="$1"
  shift
fi
which="round_trip_bench"
if [ $# -gt 0 ] && [[ "$1" != --* ]]; then
  which="$1"
  shift
fi

seconds=""
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  if [ "${args[$i]}" = --seconds ] && [ $((i + 1)) -lt ${#args[@]} ]; then
    seconds="${args[$((i + 1))]}"
  fi
done

run_one() {
  local name="$1" limit="$2"
  shift 2
  local bench="$build/bench/$name"
  if [ ! -x "$bench" ]; then
    echo "run.sh: $bench is not built (cmake --build $build --target $name)" >&2
    return 1
  fi
  # Every run is bounded; the benchmarks also stop by themselves.
  timeout "$limit" "$repo/tests/run_in_netns.sh" \
    env QT_QPA_PLATFORM=offscreen GST_REGISTRY_FORK=no "$bench" "$@"
}

case "$which" in
  round_trip_bench)
    # About 20 s.
    run_one round_trip_bench 60 "$@"
    ;;
  app_latency)
    # Three parts of --seconds, and a warm-up and a tail of about four seconds
    # for each of up to 20 rounds of each part.
    run_one app_latency $((3 * ${seconds:-60} + 3 * 20 * 4 + 60)) "$@"
    ;;
  all)
    run_one round_trip_bench 60 "$@"
    run_one app_latency $((3 * ${seconds:-60} + 3 * 20 * 4 + 60)) "$@"
    ;;
  *)
    echo "run.sh: no benchmark $which (round_trip_bench, app_latency or all)" >&2
    exit 2
    ;;
esac
