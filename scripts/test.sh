#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Tests that send to a
# multicast group run inside a private network namespace (tests/run_in_netns.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
