#!/bin/sh
# Runs one Windows program under Wine in the project's own prefix (never ~/.wine).
# Usage: wine-run.sh PREFIX_DIR PROGRAM.exe [ARGS...]
#
# CTest waits for every process that holds a test's stderr to let go of it.
# Wine's background processes (wineserver, services.exe, rpcss, explorer)
# inherit it from whichever test started them, so the first test would hang
# until its timeout. We therefore start a lingering wineserver ourselves, with
# all stdio on /dev/null, and pre-warm the prefix once under a lock; tests
# started afterwards only attach to that server.
set -u

prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG=-all
# winedbg off: a crashing test exits at once instead of waiting in the debugger.
# mscoree/mshtml off: wineboot would otherwise offer to download Mono and Gecko.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"

server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

# Bump this when the prefix set-up below changes, so existing build trees rebuild it.
stamp_version=1
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

exec wine "$@"
