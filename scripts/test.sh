#!/usr/bin/env bash
# Builds everything and runs every test: the plain build, the sanitizer (ASan + UBSan) build
# and a short run of each fuzz target. Exits non-zero on the first failure.
#   scripts/test.sh            all three
#   PELK_TEST_QUICK=1 scripts/test.sh   plain build only (for a fast local loop)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

echo "== format check"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
# The end-to-end tests read the English texts: the programs they start must not follow a
# session in another language.
export LC_ALL=C.UTF-8 LANGUAGE=
# Sanitizer reports must fail the run; leaks inside system libraries are not ours to fix.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0

build_and_test() { # dir, ctest args..., -- cmake args...
  local dir=$1; shift
  local ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
  shift || true
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir" -j"$jobs"
  echo "== $dir: test"
  (cd "$dir" && ctest -j"$jobs" "${ctest_args[@]}")
}

build_and_test build -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_WERROR=ON
if [ -z "${PELK_TEST_QUICK:-}" ]; then
  build_and_test build-asan -- -DCMAKE_BUILD_TYPE=Debug -DPELK_SANITIZE=ON -DPELK_WERROR=ON
  echo "== build-fuzz: configure and build"
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELK_FUZZ=ON -DPELK_WERROR=ON >/dev/null
  ninja -C build-fuzz -j"$jobs" $(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
  echo "== build-fuzz: test"
  (cd build-fuzz && ctest -L fuzz)
fi
