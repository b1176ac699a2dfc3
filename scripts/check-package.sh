#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it, runs the
# installed /usr/sbin/zorvadmin against the tests' private scheduler (a list,
# an add, a remove) and removes the package again.
#   scripts/check-package.sh BUILD_DIR   (a configured build tree with tests)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1

man_warnings=$(groff -man -ww -z "$top/docs/zorvadmin.8" 2>&1)
[ -z "$man_warnings" ] || { echo "manual page warnings:"; echo "$man_warnings"; exit 1; }

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/zorvadmin_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb"
lintian --fail-on error "$deb"
echo "lintian: no errors"

dpkg -i "$deb" >/dev/null
trap 'dpkg -r zorvadmin >/dev/null' EXIT
test -x /usr/sbin/zorvadmin
test -f /usr/share/man/man8/zorvadmin.8.gz
test -f /usr/share/bash-completion/completions/zorvadmin
test -f /usr/share/ansible/plugins/modules/zorv_printer.py
/usr/sbin/zorvadmin --version
ZORVADMIN_UNDER_TEST=/usr/sbin/zorvadmin "$build/tests/cli_tests" \
  --gtest_filter='ListingTest.NoArgumentAndNoFileCreatesTheDefaultAndLists:RewriteTest.AddToTheDefaultFileInsertsTheBlockBeforePorts:RewriteTest.RemoveDropsTheBlockButKeepsItsComments'
dpkg -r zorvadmin >/dev/null
trap - EXIT
if [ -e /usr/sbin/zorvadmin ]; then echo "package removal left /usr/sbin/zorvadmin"; exit 1; fi
echo "package installed, run and removed"
