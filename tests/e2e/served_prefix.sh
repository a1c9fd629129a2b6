#!/bin/bash
# Wine prefixes with a served machine: velo_served.sys installed and presenting the devices of a
# served file, so that velo.exe (no /machine) finds them through the system's own interfaces.
#
#   served_prefix.sh prepare TEMPLATE_DIR
#       a fresh wine prefix, once; every machine starts from a copy of it
#   served_prefix.sh machine TEMPLATE_DIR PREFIX_DIR SERVED_FILE
#       PREFIX_DIR := a copy of TEMPLATE_DIR with the driver, served_ctl.exe and SERVED_FILE
#       (as C:\velo-served.bin) in place; installs the driver and waits until every device is
#       present. The session ends before this returns; the driver comes back by itself, reading
#       the served file afresh, in every later session of the prefix.
#   served_prefix.sh run PREFIX_DIR PROGRAM [ARGUMENTS...]
#       in one new session of PREFIX_DIR: waits until the devices are present, runs PROGRAM (a
#       host path, or a Windows path when it holds a backslash) with ARGUMENTS, then prints
#       "served N departures M" (and the first departure, if any) on stderr. Exits with
#       PROGRAM's status.
#
# Each function can also be sourced: served_prepare, served_machine, served_run.
# The driver and served_ctl.exe come from VELO_E2E_BIN (default: build/windows/e2e of this
# tree). WINEDEBUG defaults to -all; WINEDEBUG=warn+debugstr shows the driver's own lines.
# Exit status 1 with a line on stderr naming the failed step.

VELO_E2E_BIN=${VELO_E2E_BIN:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/windows/e2e}

served_fail() {
    echo "served_prefix: $*" >&2
    return 1
}

# A host path as wine's Z: drive names it (winepath itself would start a wine session).
served_windows_path() {
    local abs
    abs=$(realpath -- "$1") || return 1
    printf 'Z:%s' "${abs//\//\\}"
}

served_prepare() {
    local template=$1
    [ -n "$template" ] || { served_fail "usage: prepare TEMPLATE_DIR"; return 1; }
    rm -rf -- "$template"
    mkdir -p -- "$(dirname -- "$template")" || return 1
    # No prompts for browser or .NET runtimes while the prefix is made.
    WINEPREFIX=$template WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=" \
        wineboot -i >/dev/null 2>&1 ||
        { served_fail "wineboot -i failed for $template"; return 1; }
    WINEPREFIX=$template wineserver -w
    [ -d "$template/drive_c/windows/system32/drivers" ] ||
        served_fail "$template has no system32\\drivers after wineboot"
}

served_machine() {
    local template=$1 prefix=$2 served=$3 rc
    [ -n "$template" ] && [ -n "$prefix" ] && [ -n "$served" ] ||
        { served_fail "usage: machine TEMPLATE_DIR PREFIX_DIR SERVED_FILE"; return 1; }
    [ -d "$template/drive_c" ] || { served_fail "no prefix at $template (run prepare)"; return 1; }
    [ -f "$served" ] || { served_fail "no served file $served"; return 1; }
    [ -f "$VELO_E2E_BIN/velo_served.sys" ] && [ -f "$VELO_E2E_BIN/served_ctl.exe" ] ||
        { served_fail "velo_served.sys or served_ctl.exe missing in $VELO_E2E_BIN (build the windows preset)"; return 1; }

    rm -rf -- "$prefix"
    cp -a -- "$template" "$prefix" || { served_fail "copying $template"; return 1; }
    cp -- "$VELO_E2E_BIN/velo_served.sys" "$prefix/drive_c/windows/system32/drivers/" &&
        cp -- "$VELO_E2E_BIN/served_ctl.exe" "$prefix/drive_c/" &&
        cp -- "$served" "$prefix/drive_c/velo-served.bin" ||
        { served_fail "putting the driver and served file in $prefix"; return 1; }

    # A server that ends as soon as the session's last process does (the default lingers 3 s).
    WINEPREFIX=$prefix wineserver -p0
    # Only served_ctl's and the driver's own lines: the driver says why it refused a file.
    WINEPREFIX=$prefix WINEDEBUG=-all,warn+debugstr wine 'C:\served_ctl.exe' install 2>&1 |
        grep --line-buffered -E '^served_ctl:|velo_served: (refusing|cannot|.* failed)' >&2
    rc=${PIPESTATUS[0]}
    # The set-up session ends by itself; never killed halfway through device set-up.
    WINEPREFIX=$prefix wineserver -w
    [ "$rc" -eq 0 ] || served_fail "installing the driver in $prefix failed"
}

served_run() {
    local prefix=$1 program=$2
    [ -n "$prefix" ] && [ -n "$program" ] ||
        { served_fail "usage: run PREFIX_DIR PROGRAM [ARGUMENTS...]"; return 1; }
    shift 2
    [ -f "$prefix/drive_c/served_ctl.exe" ] || { served_fail "no served machine in $prefix"; return 1; }
    case $program in
    *\\*) ;;
    *) program=$(served_windows_path "$program") || { served_fail "no program $2"; return 1; } ;;
    esac
    local rc
    WINEPREFIX=$prefix wineserver -p0
    WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} wine 'C:\served_ctl.exe' run "$program" "$@"
    rc=$?
    WINEPREFIX=$prefix wineserver -w
    return $rc
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    command=$1
    shift || true
    case $command in
    prepare) served_prepare "$@" ;;
    machine) served_machine "$@" ;;
    run) served_run "$@" ;;
    *)
        echo "usage: served_prefix.sh prepare TEMPLATE_DIR | machine TEMPLATE_DIR PREFIX_DIR SERVED_FILE | run PREFIX_DIR PROGRAM [ARGUMENTS...]" >&2
        exit 1
        ;;
    esac
fi
