#!/usr/bin/env bash
# Installs what the build needs, builds a Release zorvadmin and runs it with
# the arguments given here.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" g++ cmake ninja-build libcups2-dev pkg-config libudev-dev nlohmann-json3-dev >&2
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORV_BUILD_TESTS=OFF >/dev/null
cmake --build "$top/build-release" --target zorvadmin >/dev/null
exec "$top/build-release/zorvadmin" "$@"
