#!/usr/bin/env bash
# Runs every ansible-test sanity test on an installed collection, offline.
# ansible-test puts each test's requirements in a virtual environment it
# fills from PyPI with pinned versions; without network it cannot, so each
# environment is made here from Debian's packages instead (python3-voluptuous,
# pycodestyle, pylint, yamllint ...) where ansible-test would create it, and
# ansible-test then uses it as its own.
# Usage: sanity.sh COLLECTION_DIR HOME_DIR   (COLLECTION_DIR .../ansible_collections/NS/NAME)
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 COLLECTION_DIR HOME_DIR" >&2; exit 2; }
cd "$1"
# The environments live under ~/.ansible/test; Debian's Python, not another one first on PATH.
export HOME=$2 PATH=/usr/bin:$PATH
mkdir -p "$HOME"
failed=()
for test in $(ansible-test sanity --list-tests --python 3.11 2>/dev/null); do
  for _ in 1 2; do
    rc=0
    out=$(ansible-test sanity --test "$test" --python 3.11 --color no 2>&1) || rc=$?
    venv=$(sed -n 's/.*Python 3.11 at "\(.*\)\/bin\/python" does not have pip available.*/\1/p' <<<"$out")
    [ -n "$venv" ] || break
    rm -rf "$venv"
    /usr/bin/python3 -m venv --system-site-packages --without-pip "$venv"
    echo true >"$venv/meta.yaml.json"  # Debian's PyYAML has libyaml
    touch "$venv/marker.txt"
  done
  if [ -n "$venv" ]; then
    echo "sanity $test: cannot run offline: ansible-test needs pip from the network for it"
  elif [ $rc -ne 0 ]; then
    failed+=("$test")
    grep -v -e 'locale' <<<"$out" >&2
  elif grep -q -i 'skipping' <<<"$out"; then
    echo "sanity $test: $(grep -i -m1 'skipping' <<<"$out")"
  else
    echo "sanity $test: passed"
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "sanity tests failed: ${failed[*]}" >&2; exit 1; }
