#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz (clang, libFuzzer, ASan+UBSan) and runs
# each for SECONDS (default 60): fuzz.sh [SECONDS]
# The corpus grows in build-fuzz/fuzz/corpus; findings go to build-fuzz/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh --fuzz
scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUENVIS_FUZZ=ON -DQUENVIS_BENCH=OFF
exec fuzz/run-fuzzers.sh "$seconds" build-fuzz/fuzz \
  build-fuzz/fuzz/quenvis_fuzz_pipeline build-fuzz/fuzz/quenvis_fuzz_recording
