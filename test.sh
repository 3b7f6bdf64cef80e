#!/usr/bin/env bash
# Set-up, build, and the whole test suite: the normal build, then the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQUENVIS_SANITIZE=ON -DQUENVIS_BENCH=OFF
status=0
echo "== tests (normal build)"
ctest --test-dir build --output-on-failure -j 2 || status=1
echo "== tests (sanitizer build)"
ctest --test-dir build-asan --output-on-failure -j 2 || status=1
exit $status
