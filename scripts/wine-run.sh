#!/bin/sh
# Runs one Windows program under Wine in the project's own prefix (never ~/.wine).
# Usage: wine-run.sh [--capture] PREFIX_DIR PROGRAM.exe [ARGS...]
#
# CTest waits for every process that holds a test's stderr to let go of it.
# Wine's background processes (wineserver, services.exe, rpcss, explorer)
# inherit it from whichever test started them, so the first test would hang
# until its timeout. We therefore start a lingering wineserver ourselves, with
# all stdio on /dev/null, and pre-warm the prefix once under a lock; tests
# started afterwards only attach to that server.
set -u

# --capture (CTest's runs): the program writes into files that are printed once it has ended.
# Wine starts its desktop process from whichever program first needs a window or a graphics
# context, handing it that program's output; a desktop kept alive by another test would then
# hold CTest's pipe open until its own timeout.
capture=0
if [ "${1:-}" = "--capture" ]; then
    capture=1
    shift
fi

prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEARCH=win64
# Wine's own word on a program it could not load or start stays on; everything else is off.
export WINEDEBUG=-all,err+module
# winedbg off: a crashing test exits at once instead of waiting in the debugger.
# mscoree/mshtml off: wineboot would otherwise offer to download Mono and Gecko.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"

# Windows need a display. Without one (a headless machine, CI) a private Xvfb serves every
# run; it must exist before the prefix is made, or Wine's explorer starts without a display
# and later dialogs fail.
# A server killed with the session leaves its socket behind, so only a live process named in
# its lock file counts as running.
xvfb_alive() {
    pid=$(tr -dc '0-9' </tmp/.X77-lock 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}
if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:77
    if ! xvfb_alive && command -v Xvfb >/dev/null 2>&1; then
        (
            flock 8
            if ! xvfb_alive; then
                rm -f /tmp/.X77-lock /tmp/.X11-unix/X77
                nohup Xvfb :77 -screen 0 1920x1200x24 -nolisten tcp </dev/null >/dev/null 2>&1 8>&- &
                i=0
                while ! { xvfb_alive && [ -S /tmp/.X11-unix/X77 ]; } && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
            fi
        ) 8>/tmp/.quorvantis-xvfb.lock
    fi
fi

server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

# Bump this when the prefix set-up below changes, so existing build trees rebuild it.
stamp_version=2
stamp="$prefix/.quorvantis-prefix-v$stamp_version"

mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$stamp" ]; then
        "$server" -k 9>&- || true
        rm -rf "$prefix"
        wineboot -i 9>&-
        # Wine reports Windows 7 unless told otherwise.
        wine winecfg -v win10 9>&-
        # Without a window manager every window hide otherwise stalls about 2 s.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f 9>&-
        # Flush the registry to disk before anything else uses the prefix.
        "$server" -k 9>&- || true
        "$server" -w 9>&- || true
        touch "$stamp"
    fi
    # Exits 2 when a server already runs, which is what we want.
    "$server" -p60 9>&- || true
    wine cmd.exe /c exit 0 9>&-
    # dash execs a subshell's last command, which would drop the lock early.
    :
) 9>"$prefix.lock" </dev/null >/dev/null 2>&1

if [ $capture -eq 0 ]; then
    exec wine "$@"
fi
out=$(mktemp) && err=$(mktemp) || exit 1
child=
# A time-out ends this script: take the program with it.
trap 'kill $child 2>/dev/null; rm -f "$out" "$err"; exit 143' TERM INT
run_once() {
    wine "$@" </dev/null >"$out" 2>"$err" &
    child=$!
    status=0
    wait $child || status=$?
}
run_once "$@"
# A test program prints its first line before it runs anything, so one that ended without a word
# never ran a test: under a loaded Wine that start is tried once more (test programs only; any
# other program may have done something before it failed). The retry is written down
# beside the prefix (test.sh prints the list), so it is never silent.
case "$1" in *_tests.exe) test_program=1 ;; *) test_program=0 ;; esac
if [ $test_program -eq 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ] && [ $status -ne 0 ] && [ $status -le 128 ]; then
    echo "$(date '+%F %T') $* ended with exit status $status before printing anything; started again" >>"$prefix.retries"
    run_once "$@"
fi
cat "$out"
cat "$err" >&2
# A run that ends without a word would otherwise fail with nothing to go on: say how it ended.
if [ ! -s "$out" ] && [ ! -s "$err" ] && [ $status -ne 0 ]; then
    how="exit status $status"
    [ $status -gt 128 ] && how="$how (signal $((status - 128)))"
    echo "wine-run: $1 ended with $how and printed nothing; wineserver: $(pgrep -f "$server" >/dev/null 2>&1 && echo running || echo not running)" >&2
fi
rm -f "$out" "$err"
exit $status
