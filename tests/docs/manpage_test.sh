#!/usr/bin/env bash
# The manual pages: mandoc -Tlint and groff find nothing in the sources or in
# the pages the build made (zorvadmin.8 and zorv.conf.5 beside it); one
# version (debian/changelog's top entry) reaches --version and the pages'
# footers, with that entry's date; the SYNOPSIS names every option --help
# lists; EXIT STATUS names every status src/admin/exit_status.h defines (4
# included); ENVIRONMENT names every ZORV_* variable the sources read; the
# default file both pages show is the one zorvadmin writes; the JSON
# section's examples parse.
#   manpage_test.sh ZORVADMIN BUILT_PAGE (the build's zorvadmin.8)
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
zorvadmin=${1:?usage: manpage_test.sh ZORVADMIN BUILT_PAGE}
built=${2:?usage: manpage_test.sh ZORVADMIN BUILT_PAGE}
source_page=$top/docs/zorvadmin.8
format_source=$top/docs/zorv.conf.5
format_built=$(dirname "$built")/zorv.conf.5
export LC_ALL=C.UTF-8

results=()
check() {  # check WHAT: PASS when the command just before succeeded (set detail before it)
  if [ "$?" -eq 0 ]; then results+=("PASS $1"); else results+=("FAIL $1${detail:+: $detail}"); fi
  detail=
}
detail=

# The page as a reader sees it, without overstriking, and one section of it.
rendered() { mandoc -T utf8 -O width=200 "$1" | sed 's/.\x08//g'; }
section() {  # section PAGE TITLE: the section's lines, without its heading
  rendered "$1" | awk -v title="$2" '/^[A-Z]/ { on = ($0 == title); next } on'
}

for page in "$source_page" "$built" "$format_source" "$format_built"; do
  name=${page#"$top"/}
  detail=$(mandoc -T lint "$page" 2>&1)
  [ -z "$detail" ]
  check "mandoc -Tlint $name reports nothing"
  detail=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$detail" ]
  check "groff -ww $name warns of nothing"
done

gzip -dc "${built}.gz" | cmp -s - "$built"
check "zorvadmin.8.gz is the page the test reads"
gzip -dc "${format_built}.gz" | cmp -s - "$format_built"
check "zorv.conf.5.gz is the page the test reads"

# One version: the changelog's, without the Debian revision.
top_entry=$(sed -n '1p' "$top/debian/changelog")
changelog_version=$(sed -E -n '1s/^zorvadmin \(([0-9]+\.[0-9]+\.[0-9]+)-[^)]+\).*/\1/p' "$top/debian/changelog")
detail="cannot read a version in: $top_entry"
[ -n "$changelog_version" ]
check "debian/changelog's top entry has a version"
trailer=$(grep -m1 '^ -- ' "$top/debian/changelog")
changelog_date=$(date -u -d "${trailer#*>  }" +%Y-%m-%d 2>/dev/null)
detail="cannot read a date in: $trailer"
[ -n "$changelog_date" ]
check "debian/changelog's top entry has a date"
detail=$("$zorvadmin" --version)
[ "$detail" = "zorvadmin $changelog_version" ]
check "--version prints the changelog's version $changelog_version"
detail=$(grep -m1 '^\.TH ' "$built")
[ "$detail" = ".TH ZORVADMIN 8 $changelog_date \"zorvadmin $changelog_version\" \"System Administration\"" ]
check "the page's footer carries version $changelog_version and date $changelog_date"
detail=$(rendered "$built" | tail -n 1)
grep -q -E "^zorvadmin $changelog_version +$changelog_date +ZORVADMIN\(8\)$" <<<"$detail"
check "the rendered footer shows them"
detail=$(grep -m1 '^\.TH ' "$source_page")
grep -q -E '^\.TH ZORVADMIN 8 [0-9]{4}-[0-9]{2}-[0-9]{2} zorvadmin "System Administration"$' <<<"$detail"
check "the source page carries no version of its own"
detail=$(grep -m1 '^\.TH ' "$format_built")
[ "$detail" = ".TH ZORV.CONF 5 $changelog_date \"zorvadmin $changelog_version\" \"File Formats\"" ]
check "zorv.conf(5)'s footer carries version $changelog_version and date $changelog_date"
detail=$(grep -m1 '^\.TH ' "$format_source")
grep -q -E '^\.TH ZORV\.CONF 5 [0-9]{4}-[0-9]{2}-[0-9]{2} zorvadmin "File Formats"$' <<<"$detail"
check "zorv.conf(5)'s source carries no version of its own"
detail=$(section "$built" "SEE ALSO")
grep -q -F 'zorv.conf(5)' <<<"$detail"
check "zorvadmin(8) refers to zorv.conf(5)"

# The default file each page shows (the no-fill block after "The default
# file is:", roff escapes undone) is byte for byte the one zorvadmin writes.
default_file() {
  awk '/^The default file is:/ { found = 1 } found && /^\.nf$/ { on = 1; next } on && /^\.fi$/ { exit } on' "$1" |
    sed -e 's/\\-/-/g' -e 's/\\e/\\/g'
}
scratch=$(mktemp -d)
ZORV_CONF=$scratch/zorv.conf CUPS_SERVER=$scratch/no-scheduler "$zorvadmin" >/dev/null 2>&1
for page in "$source_page" "$format_source"; do
  detail=$(diff <(default_file "$page") "$scratch/zorv.conf" 2>&1)
  check "${page#"$top"/} shows the default file zorvadmin writes"
done
rm -rf "$scratch"

# The SYNOPSIS names every option that --help lists.
synopsis=$(section "$built" SYNOPSIS)
options=$("$zorvadmin" --help | grep -o -E '^  -(-[a-z]+(-[a-z]+)*|[a-z])' | sed 's/^ *//')
detail="--help lists too few options: $options"
[ "$(wc -l <<<"$options")" -ge 10 ]
check "--help lists the options"
while IFS= read -r option; do
  detail="not in: $synopsis"
  grep -q -E -- "(^|[][ |])$option([][ |]|$)" <<<"$synopsis"
  check "the SYNOPSIS names $option"
done <<<"$options"

# EXIT STATUS: every status exit_status.h defines, and 4 whether or not it does.
statuses=$( (grep -o -E '^ *kExit[A-Za-z]+ = [0-9]+' "$top/src/admin/exit_status.h" | grep -o -E '[0-9]+$'; echo 4) | sort -u)
exit_section=$(section "$built" "EXIT STATUS")
for status in $statuses; do
  detail="not in: $exit_section"
  grep -q -E "^ +$status( |$)" <<<"$exit_section"
  check "EXIT STATUS explains $status"
done

# ENVIRONMENT: every ZORV_ variable the sources read, and the two budgets.
variables=$( (grep -r -h -o -E '"ZORV_[A-Z_]+"' "$top/src" | tr -d '"'; printf '%s\n' ZORV_CONF ZORV_SCHEDULER_TIMEOUT \
  ZORV_LOCK_TIMEOUT CUPS_SERVER) | sort -u)
environment=$(section "$built" ENVIRONMENT)
for variable in $variables; do
  detail="not in: $environment"
  grep -q -E "^ +$variable$" <<<"$environment"
  check "ENVIRONMENT explains $variable"
done

# JSON: every example (from a line "{" to the "}" under it) is a JSON
# document, one for each kind the tool prints.
examples=$(mktemp -d)
section "$built" JSON | awk -v dir="$examples" '
  !on && /^ *[{]$/ { on = 1; indent = index($0, "{"); file = dir "/" ++n ".json" }
  on { print > file }
  on && /^ *[}]$/ && index($0, "}") == indent { on = 0; close(file) }'
count=$(find "$examples" -name '*.json' | wc -l)
detail="$count examples"
[ "$count" -ge 4 ]
check "the JSON section shows an example of each document"
for example in "$examples"/*.json; do
  detail=$(python3 -m json.tool "$example" 2>&1 >/dev/null)
  check "JSON example ${example##*/} parses"
done
rm -rf "$examples"

# shellcheck source=tests/support/results.sh
. "$(dirname "$0")/../support/results.sh"
report_results
