#!/usr/bin/env bash
# Builds the Debian package dist/pelk-agent_<version>_<arch>.deb from a build tree (reused when
# it is configured already, as the test command's is) and prints its path.
#   scripts/package.sh [BUILD_DIR]     default: build
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
if [ ! -f "$build/CPackConfig.cmake" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" pelk-agent pelk-docs >/dev/null
mkdir -p dist
# Files in the package belong to root whoever builds it; fakeroot only when not root already.
fakeroot=()
[ "$(id -u)" -eq 0 ] || fakeroot=(fakeroot)
(cd "$build" && "${fakeroot[@]}" cpack -G DEB -B "$root/dist/.cpack" >/dev/null)
deb=$(ls -t dist/.cpack/pelk-agent_*.deb | head -n1)
mv -f "$deb" dist/
rm -rf dist/.cpack
echo "dist/$(basename "$deb")"
