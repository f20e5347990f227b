#!/usr/bin/env bash
# Runs the benchmarks inside a private network namespace with only loopback
# (tests/run_in_netns.sh): they send to the multicast group 235.1.2.3:9000.
#
#   bench/run.sh [BUILD_DIR] [--seconds N]
#
# BUILD_DIR defaults to ./build; build the benchmarks first:
#   cmake --build BUILD_DIR --target round_trip_bench
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$repo/build}"
shift || true

bench="$build/bench/round_trip_bench"
if [ ! -x "$bench" ]; then
  echo "run.sh: $bench is not built (cmake --build $build --target round_trip_bench)" >&2
  exit 1
fi

# The whole run is bounded; the benchmark itself stops after about 20 s.
exec timeout 60 "$repo/tests/run_in_netns.sh" \
  env QT_QPA_PLATFORM=offscreen GST_REGISTRY_FORK=no "$bench" "$@"
