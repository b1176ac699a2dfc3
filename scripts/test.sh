#!/usr/bin/env bash
# Installs the build and test dependencies, builds, and runs the whole test
# suite through CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" g++ cmake ninja-build libcups2-dev libgtest-dev cups-daemon cups-client \
  util-linux strace valgrind clang libclang-rt-14-dev

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

build "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$top/build" --output-on-failure
