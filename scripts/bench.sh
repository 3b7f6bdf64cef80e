#!/usr/bin/env bash
# Builds and runs every benchmark program (not part of the test suite).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENVIS_BENCH=ON
for b in build/bench/quenvis_bench_*; do
  [ -x "$b" ] && "$b" "$@"
done
