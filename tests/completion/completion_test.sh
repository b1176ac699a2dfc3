#!/usr/bin/env bash
# Calls the zorvadmin completion function the way bash does (COMP_WORDS,
# COMP_CWORD, COMP_LINE, COMP_POINT) and compares COMPREPLY, once with plain
# bash and once with the bash-completion helpers loaded.
#   completion_test.sh [ZORVADMIN]
# Queue names for -x and --get come from a stub that prints a fixed --tsv
# listing; given ZORVADMIN, the same rows also run against that binary with a
# configuration in a private directory.
here=$(cd "$(dirname "$0")" && pwd)
completion=$here/../../packaging/zorvadmin.bash-completion
helpers=/usr/share/bash-completion/bash_completion
real=${1:+$(realpath "$1")}
export LC_ALL=C

work=$(mktemp -d /tmp/zorvcompletion.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The scheduler: a stub lpstat first on PATH.
mkdir -p "$work/stub"
cat >"$work/stub/lpstat" <<'EOF'
#!/bin/sh
[ "$1" = -e ] || exit 1
printf 'Office\nZPR4410\nZPR2200\n'
EOF
# The tool: a stub printing a --tsv listing, with a name that needs the
# listing's escapes and one that needs quoting on the command line.
cat >"$work/stub/zorvadmin" <<'EOF'
#!/bin/sh
printf '%s\n' "$ZORV_CONF" >>"$STUB_LOG"
if [ "$1" = --devices ]; then
  # Two printers whose serials udev spells alike; the name leads to lp1.
  [ "$2" = --tsv ] && [ $# = 2 ] || exit 2
  for n in 1 2; do
    printf 'device\t/dev/usb/lp%s\tusb\t1-%s\tZorv\tZPR4410\tS-%s\t/dev/usb/by-path/p%s\tshared-serial\n' $n $n $n $n
  done
  printf 'link\t/dev/usb/lp1\t/dev/usb/by-id/usb-Zorv_ZPR4410_S_1-lp\nlink\t/dev/usb/lp1\t/dev/usb/by-path/p1\n'
  exit 0
fi
[ "$1" = --tsv ] && [ $# = 1 ] || exit 2
printf 'setting\tCUPS_ConfigPath\t/etc/cups/\n'
printf 'setting\tLogDirectoryPath\t\n'
printf 'setting\tUI_Port\t59787\n'
printf 'entry\tOffice\t/dev/usb/lp0\tusb\t//Zorv/ZPR2200\tok\n'
printf 'entry\tZPR4410\t/dev/usb/lp1\tzorv\t/var/run/zorv/ZPR4410.fifo\tok\n'
printf 'entry\tBack\\\\Office\t/dev/lp0\t\t\tunknown-queue\n'
printf 'entry\tFront Desk\t/dev/lp1\t\t\tunknown-queue\n'
printf 'entry\tZebra\t\t\t\tunknown-queue\n'
EOF
chmod +x "$work/stub/lpstat" "$work/stub/zorvadmin"
export STUB_LOG=$work/stub.log
: >"$work/stub.conf"

if [ -n "$real" ]; then
  mkdir -p "$work/real" "$work/cups"
  ln -s "$real" "$work/real/zorvadmin"
  block() { printf '<Printer  %s>\nDevicePath  %s\n</Printer>\n\n' "$1" "$2"; }
  {
    printf '<Path>\nCUPS_ConfigPath   %s/cups/\n</Path>\n\n' "$work"
    block Office /dev/usb/lp0
    block ZPR4410 /dev/usb/lp1
    block Zebra /dev/lp0
    printf '<Ports>\nUI_Port  59787\n</Ports>\n'
  } >"$work/real.conf"
fi

# A fake / for -o: the completion reads ZORVADMIN_COMPLETION_ROOT instead.
root=$work/root
mkdir -p "$root/dev/usb/by-id" "$root/dev/usb/by-path"
touch "$root/dev/usb/lp0" "$root/dev/usb/lp1" "$root/dev/lp0" "$root/dev/printer0" "$root/dev/ttyS0"
ln -s ../lp1 "$root/dev/usb/by-id/usb-Zorv_ZPR4410_0042-if00"
ln -s ../lp0 "$root/dev/usb/by-id/usb-Zorv_ZPR2200-0:1.0"
ln -s ../lp9 "$root/dev/usb/by-id/usb-Unplugged-if00"
ln -s ../lp0 "$root/dev/usb/by-path/pci-0000:00:14.0-usb-0:2:1.0-lp"
ln -s ../lp1 "$root/dev/usb/by-id/usb-Zorv_ZPR4410_S_1-lp"  # the stub's shared name
export ZORVADMIN_COMPLETION_ROOT=$root

# Files for --check and for the -o fallback, in the working directory.
mkdir -p "$work/files/sub dir"
touch "$work/files/zorv.conf" "$work/files/zorv.conf.bak" "$work/files/other.txt" "$work/files/fifo0"

# Splits LINE into COMP_WORDS as bash does: at unescaped blanks, and runs of
# the word-break characters : and = are words of their own.
split_words() {
  local line=$1 word= kind=none i c
  COMP_WORDS=()
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    case $c in
      \\)
        [ $kind = break ] && { COMP_WORDS+=("$word"); word=; }
        word+=$c${line:i+1:1}; ((i++)); kind=word ;;
      ' ')
        [ $kind = none ] || { COMP_WORDS+=("$word"); word=; }
        kind=none ;;
      [:=])
        [ $kind = word ] && { COMP_WORDS+=("$word"); word=; }
        word+=$c; kind=break ;;
      *)
        [ $kind = break ] && { COMP_WORDS+=("$word"); word=; }
        word+=$c; kind=word ;;
    esac
  done
  COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
}

# Prints the replies for LINE (the cursor at its end), comma-separated, sorted
# unless ORDER is given.
complete_line() {
  split_words "$1"
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMPREPLY=()
  _zorvadmin "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  ((${#COMPREPLY[@]})) || return 0
  if [ -n "${2-}" ]; then printf '%s\n' "${COMPREPLY[@]}"; else printf '%s\n' "${COMPREPLY[@]}" | sort; fi | paste -sd, -
}

# when | command line, the cursor at its end | expected replies, comma-separated
#   when: any, order (replies in this order), stub (only the stub's extra names and shared by-id
#   name), real (only the real tool: no name shared), order-stub and order-real (both), helpers (needs
#   bash-completion's joining of words split at ':'), absent (no
#   configuration file)
cases=$(cat <<'EOF'
any|zorvadmin |--check,--strict,--dry-run,--tsv,--json,--get,--quiet,--restore,--set,--devices,--batch,--stable-names,--help,--version,-p,-o,-x
any|zorvadmin --d|--dry-run,--devices
any|zorvadmin --dry-run --|--tsv,--json,--quiet,--set,--batch,--stable-names
any|zorvadmin --json --|--check,--strict,--dry-run,--quiet,--restore,--set,--devices,--batch,--stable-names
any|zorvadmin --tsv --dry-run -|--quiet,--set,--batch,--stable-names,-p,-o,-x
any|zorvadmin --check --s|--strict
any|zorvadmin --b|--batch
any|zorvadmin --check --strict zorv|zorv.conf,zorv.conf.bak
any|zorvadmin --set |UI_Port,LogDirectoryPath,CUPS_ConfigPath
any|zorvadmin --dry-run --set L|LogDirectoryPath
any|zorvadmin --set UI_Port |
any|zorvadmin --set CUPS_ConfigPath s|sub dir
any|zorvadmin -- -|-p,-o,-x
any|zorvadmin -p Office -|-p,-o,-x
any|zorvadmin -p Office -o /dev/usb/lp0 |
any|zorvadmin -x Office -|
any|zorvadmin --devices |--tsv,--json
any|zorvadmin --devices --tsv -|
any|zorvadmin --strict |--check,--json
any|zorvadmin --strict -|--check,--json
any|zorvadmin --restore -|--tsv,--json,--quiet
any|zorvadmin --quiet -|--dry-run,--tsv,--json,--restore,--set,--batch,--stable-names,-p,-o,-x
any|zorvadmin --get Office -|
any|zorvadmin --help -|
any|zorvadmin Office|
any|zorvadmin -p |Office,ZPR2200,ZPR4410
any|zorvadmin -p ZPR|ZPR2200,ZPR4410
any|zorvadmin --dry-run --quiet -p O|Office
any|zorvadmin -pQ1 Of|Office
any|zorvadmin -p Nothing|
any|zorvadmin -x Z|ZPR4410,Zebra
any|zorvadmin --quiet -x ZPR|ZPR4410
any|zorvadmin --get Of|Office
any|zorvadmin -p -x Ze|Zebra
any|zorvadmin -x Q|
any|zorvadmin -p zpr|ZPR2200,ZPR4410
any|zorvadmin -p oFF|Office
any|zorvadmin -x zE|Zebra
any|zorvadmin --get OFFICE|Office
stub|zorvadmin -x front\ |Front\ Desk
stub|zorvadmin --get bACK|Back\\Office
stub|zorvadmin -x |Back\\Office,Front\ Desk,Office,ZPR4410,Zebra
stub|zorvadmin -x Front\ |Front\ Desk
stub|zorvadmin --get Ba|Back\\Office
absent|zorvadmin -x |
absent|zorvadmin --get O|
order-stub|zorvadmin -o |/dev/usb/by-id/usb-Zorv_ZPR2200-0:1.0,/dev/usb/by-id/usb-Zorv_ZPR4410_0042-if00,/dev/usb/by-path/pci-0000:00:14.0-usb-0:2:1.0-lp,/dev/usb/lp0,/dev/usb/lp1,/dev/lp0,/dev/printer0
order-real|zorvadmin -o |/dev/usb/by-id/usb-Zorv_ZPR2200-0:1.0,/dev/usb/by-id/usb-Zorv_ZPR4410_0042-if00,/dev/usb/by-id/usb-Zorv_ZPR4410_S_1-lp,/dev/usb/by-path/pci-0000:00:14.0-usb-0:2:1.0-lp,/dev/usb/lp0,/dev/usb/lp1,/dev/lp0,/dev/printer0
any|zorvadmin -p Office -o /dev/usb/l|/dev/usb/lp0,/dev/usb/lp1
stub|zorvadmin -o /dev/usb/by-id/usb-Zorv_ZPR4|/dev/usb/by-id/usb-Zorv_ZPR4410_0042-if00
real|zorvadmin -o /dev/usb/by-id/usb-Zorv_ZPR4|/dev/usb/by-id/usb-Zorv_ZPR4410_0042-if00,/dev/usb/by-id/usb-Zorv_ZPR4410_S_1-lp
any|zorvadmin -o /dev/p|/dev/printer0
helpers|zorvadmin -o /dev/usb/by-id/usb-Zorv_ZPR2200-0:|1.0
any|zorvadmin -o fi|fifo0
any|zorvadmin --check zorv|zorv.conf,zorv.conf.bak
any|zorvadmin --check |fifo0,other.txt,sub dir,zorv.conf,zorv.conf.bak
any|zorvadmin --check s|sub dir
any|zorvadmin --batch zorv|zorv.conf,zorv.conf.bak
EOF
)

# Runs every case in one setting and prints a PASS or FAIL line for each.
run_cases() {  # run_cases plain|helpers stub|real
  local mode=$1 tool=$2 when line expected got conf
  if [ "$mode" = helpers ]; then
    # shellcheck disable=SC1090
    . "$helpers"
  fi
  # shellcheck disable=SC1090
  . "$completion"
  if complete -p zorvadmin 2>/dev/null | grep -q -- '-F _zorvadmin zorvadmin$'; then
    echo "PASS [$mode/$tool] registered for zorvadmin"
  else
    echo "FAIL [$mode/$tool] not registered with complete -F _zorvadmin zorvadmin"
  fi
  cd "$work/files" || exit 1
  if [ "$tool" = real ]; then
    PATH=$work/real:$work/stub:$PATH
    conf=$work/real.conf
    export CUPS_SERVER=$work/no-scheduler.sock
  else
    PATH=$work/stub:$PATH
    conf=$work/stub.conf
  fi
  while IFS='|' read -r when line expected; do
    case $when in
      stub | order-stub) [ "$tool" = stub ] || continue ;;
      real | order-real) [ "$tool" = real ] || continue ;;
      helpers) [ "$mode" = helpers ] || continue ;;
    esac
    if [ "$when" = absent ]; then export ZORV_CONF=$work/absent.conf; else export ZORV_CONF=$conf; fi
    if [[ $when == order* ]]; then
      got=$(complete_line "$line" ordered)
    else
      expected=$(printf '%s' "$expected" | tr , '\n' | sort | paste -sd, -)
      got=$(complete_line "$line")
    fi
    if [ "$got" = "$expected" ]; then
      echo "PASS [$mode/$tool] '$line'"
    else
      echo "FAIL [$mode/$tool] '$line': expected '$expected', got '$got'"
    fi
  done <<<"$cases"
}

results=()
settings=("plain stub")
[ -n "$real" ] && settings+=("plain real")
if [ -f "$helpers" ]; then
  settings+=("helpers stub")
  [ -n "$real" ] && settings+=("helpers real")
else
  results+=("FAIL $helpers missing: install the bash-completion package")
fi
for setting in "${settings[@]}"; do
  # A subshell each, so the helpers of one setting never leak into the next.
  # shellcheck disable=SC2086
  mapfile -t -O "${#results[@]}" results < <(run_cases $setting)
done

# Pressing Tab must never create the configuration (a listing would).
if grep -qx "$work/absent.conf" "$STUB_LOG" 2>/dev/null || [ -e "$work/absent.conf" ]; then
  results+=("FAIL the tool was run for a missing configuration file")
else
  results+=("PASS no run and no file for a missing configuration file")
fi

# shellcheck source=tests/support/results.sh
. "$(dirname "$0")/../support/results.sh"
report_results
