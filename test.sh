#!/usr/bin/env bash
# Set-up, build, and the whole test suite: the normal build, then the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer, then a
# short run of both fuzz targets (clang, libFuzzer, ASan+UBSan), then the
# normal build's Debian package, checked by lintian and installed and run in
# a clean Debian 12 root.
set -euo pipefail
cd "$(dirname "$0")"
# The package test makes a chroot: root's work.
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
scripts/setup.sh --fuzz
# The package test's Debian root comes from the network: made meanwhile.
mkdir -p build
"${as_root[@]}" scripts/chroot-test.sh prepare >build/chroot-prepare.log 2>&1 &
prepare=$!
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQUENVIS_SANITIZE=ON -DQUENVIS_BENCH=OFF
scripts/build.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUENVIS_FUZZ=ON -DQUENVIS_BENCH=OFF
status=0
echo "== tests (normal build)"
ctest --test-dir build --output-on-failure -j 2 || status=1
echo "== tests (sanitizer build)"
ctest --test-dir build-asan --output-on-failure -j 2 || status=1
echo "== fuzzing (30 s per target)"
ctest --test-dir build-fuzz --output-on-failure -L fuzz || status=1
echo "== the package in a clean Debian 12 root"
wait $prepare || cat build/chroot-prepare.log >&2
if deb=$(scripts/package.sh --from build | tail -n 1); then
  "${as_root[@]}" scripts/chroot-test.sh "$deb" || status=1
else
  status=1
fi
exit $status
