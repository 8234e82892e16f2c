#!/usr/bin/env bash
# Builds the Debian package dist/pelk-agent_<version>_<arch>.deb from a build tree (reused when
# it is configured already, as the test command's is) and prints its path.
#   scripts/package.sh [BUILD_DIR [OUT_DIR]]     defaults: build, dist
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=$(mkdir -p "${2:-dist}" && cd "${2:-dist}" && pwd)
if [ ! -f "$build/CPackConfig.cmake" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" pelk-agent pelk-docs >/dev/null
# Files in the package belong to root whoever builds it; fakeroot only when not root already.
fakeroot=()
[ "$(id -u)" -eq 0 ] || fakeroot=(fakeroot)
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
(cd "$build" && "${fakeroot[@]}" cpack -G DEB -B "$staging" >/dev/null)
deb=$(basename "$staging"/pelk-agent_*.deb)
mv -f "$staging/$deb" "$out/"
echo "$out/$deb"
