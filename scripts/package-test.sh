#!/usr/bin/env bash
# Builds the Debian source, binary and debug symbols packages from an export
# of the working tree (the tree itself stays clean), checks them with
# lintian, runs the autopkgtest on this machine against the built packages,
# and removes the package again.
#   scripts/package-test.sh   (as root; KEEP=1 keeps the build directory)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" build-essential debhelper cmake ninja-build libcups2-dev libgtest-dev libudev-dev nlohmann-json3-dev udev pkg-config \
  bash-completion lintian autopkgtest groff-base man-db cups-daemon cups-client

man_warnings=$(groff -man -ww -z "$top/docs/zorvadmin.8" "$top/docs/zorv.conf.5" 2>&1)
[ -z "$man_warnings" ] || { echo "manual page warnings:"; echo "$man_warnings"; exit 1; }

work=$(mktemp -d)
cleanup() {
  if dpkg-query -W -f='${Status}' zorvadmin 2>/dev/null | grep -q 'ok installed'; then
    dpkg -r zorvadmin >/dev/null
  fi
  if [ -n "${KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The upstream tarball is every file git tracks or would track (so
# uncommitted work is what gets tested), without debian/.
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
upstream=${version%-*}
tree=$work/zorvadmin-$upstream
mkdir "$tree"
(cd "$top" && git ls-files -z --cached --others --exclude-standard | grep -z -v '^debian/' |
  while IFS= read -r -d '' file; do [ ! -e "$file" ] || printf '%s\0' "$file"; done |
  tar --create --null --files-from=- --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$(dpkg-parsechangelog -l debian/changelog -S Timestamp)") | tar -x -C "$tree"
tar -C "$work" --create --gzip --sort=name --owner=0 --group=0 --numeric-owner \
  -f "$work/zorvadmin_$upstream.orig.tar.gz" "zorvadmin-$upstream"
cp -a "$top/debian" "$tree/"

(cd "$tree" && dpkg-buildpackage -us -uc -j2) >"$work/build.log" 2>&1 || { tail -50 "$work/build.log"; exit 1; }
grep -E '^(1/2|2/2| *[0-9]+% tests passed)|Test +#' "$work/build.log" || true
changes=$(ls "$work"/zorvadmin_"$version"_*.changes)
built=$(cd "$work" && ls -1 -- *.dsc *.tar.* *.deb *.changes)
echo "built:"; sed 's/^/  /' <<<"$built"
for wanted in "zorvadmin_$version.dsc" "zorvadmin_$upstream.orig.tar.gz" "zorvadmin_$version.debian.tar.xz" \
  "zorvadmin_${version}_" "zorvadmin-dbgsym_${version}_"; do
  grep -q -F -- "$wanted" <<<"$built" || { echo "dpkg-buildpackage made no $wanted"; exit 1; }
done
deb=$(ls "$work"/zorvadmin_"$version"_*.deb)
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '/$')
echo "$contents"
# The udev rule goes where udev on this release keeps package rules.
udev_rules=$(pkg-config --variable=udevdir udev)/rules.d
for file in ./usr/sbin/zorvadmin ./usr/share/man/man8/zorvadmin.8.gz ./usr/share/man/man5/zorv.conf.5.gz \
  ./usr/share/bash-completion/completions/zorvadmin ./usr/share/doc/zorvadmin/copyright \
  ".$udev_rules/60-zorvadmin-usblp.rules"; do
  grep -q -x -F -- "$file" <<<"$contents" || { echo "the package lacks $file"; exit 1; }
done
# The README, compressed or not as dh_compress sees fit.
grep -q -x -E -- '\./usr/share/doc/zorvadmin/README\.md(\.gz)?' <<<"$contents" || { echo "the package lacks the README"; exit 1; }
dpkg-deb --field "$deb" Recommends | grep -q -w cups-client || { echo "the package does not recommend cups-client"; exit 1; }
if grep -q ansible <<<"$contents"; then echo "the package ships Ansible files"; exit 1; fi

# Every tag counts, pedantic and informational ones too; an override in
# debian/ must say why.
lint=$(lintian --pedantic -I --tag-display-limit 0 "$changes" 2>&1 | grep -v -x "running with root privileges is not recommended!") || true
if [ -n "$lint" ]; then echo "lintian:"; echo "$lint"; exit 1; fi
echo "lintian --pedantic -I: nothing to report"

autopkgtest --output-dir "$work/autopkgtest" "$changes" -- null
echo "autopkgtest passed"
