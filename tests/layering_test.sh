#!/usr/bin/env bash
# Includes point one way: io below config, spooler and devices, admin on
# top. config and spooler meet only through the scheduler seam.
set -uo pipefail
src=$(cd "$(dirname "$0")/../src" && pwd)
failed=0
passed=0
# layer, then the directories its files may include from
rules=("io:io" "config:io config" "spooler:io spooler config/queue_directory.h" "devices:io devices" "admin:io config spooler devices admin")
for rule in "${rules[@]}"; do
  layer=${rule%%:*}
  allowed=${rule#*:}
  while IFS= read -r line; do
    file=${line%%:*}
    included=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$line")
    ok=no
    for allow in $allowed; do
      case $included in "$allow"|"$allow"/*) ok=yes ;; esac
    done
    if [ $ok = yes ]; then passed=$((passed + 1)); else echo "upward include: $file includes $included"; failed=$((failed + 1)); fi
  done < <(grep -H '#include "' "$src/$layer"/*.h "$src/$layer"/*.cc)
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
