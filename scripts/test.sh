#!/usr/bin/env bash
# Installs the build and test dependencies, builds, and runs the whole test
# suite through CTest: the plain build, the same suite again with DNS-SD
# (dbus and avahi-daemon) running, the suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded fuzz run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" g++ cmake ninja-build libcups2-dev libgtest-dev cups-daemon cups-client \
  util-linux time strace valgrind clang libclang-rt-14-dev \
  bash-completion pkg-config attr acl ansible-core dbus avahi-daemon avahi-utils \
  dpkg-dev python3-venv python3-voluptuous pycodestyle pylint yamllint shellcheck \
  libudev-dev nlohmann-json3-dev udev umockdev tmux python3 mandoc

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}

build "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$top/build" --output-on-failure --verbose

# Once more with DNS-SD on, as on most desktops and print servers: libcups
# then browses the network, and a test that counts system calls must count
# only the ones it means.
# A DNS-SD the machine already runs is used as it is, and left running.
if ! "$top/scripts/dnssd.sh" status; then
  "$top/scripts/dnssd.sh" start
  trap '"$top/scripts/dnssd.sh" stop' EXIT
fi
ctest --test-dir "$top/build" --output-on-failure
"$top/scripts/dnssd.sh" stop || true
trap - EXIT

build "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DZORV_SANITIZE=ON
ctest --test-dir "$top/build-asan" --output-on-failure

CXX=clang++ build "$top/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORV_FUZZ=ON -DZORV_BUILD_TESTS=OFF
ctest --test-dir "$top/build-fuzz" --output-on-failure --verbose

# The Debian packages: built from an export of the tree, linted, tested with
# autopkgtest on this machine, and removed again.
"$top/scripts/package-test.sh"
