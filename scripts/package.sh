#!/usr/bin/env bash
# Builds the Debian package quenvis_<version>_amd64.deb and checks it with
# lintian; prints the package's path last.
#   package.sh [DIR]        builds in DIR (default build-pkg) with Debian's
#                           hardening flags, without tests or benchmarks
#   package.sh --from DIR   packages the build tree DIR as it is configured
#                           (./test.sh uses its normal build)
# The dependencies come from the binaries (dpkg-shlibdeps). lintian's errors
# fail the script, its warnings are shown (the README lists those that stay).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ "${1:-}" = --from ]; then
  dir=${2:?usage: package.sh --from DIR}
  [ -f "$dir/CMakeCache.txt" ] || { echo "package: $dir is not a build tree" >&2; exit 1; }
  cmake --build "$dir" -j "$(nproc)" >/dev/null
else
  dir=${1:-build-pkg}
  # Fortified functions, stack protector, full RELRO, as Debian builds.
  export CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENVIS_TESTS=OFF -DQUENVIS_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
deb=$dir/quenvis_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$dir" && cpack -G DEB >/dev/null)
[ -f "$deb" ] || { echo "package: cpack made no $deb" >&2; exit 1; }
lintian --fail-on error "$deb" >&2 || { echo "package: lintian found errors in $deb" >&2; exit 1; }
echo "$deb"
