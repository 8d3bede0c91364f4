#!/bin/sh
# A reliability soak under Wine (not run by CI): the timer service installed, reinstalled with
# another resolution, stopped and started again and again; console commands run side by side
# against the single-instance lock; the window started and closed. Afterwards the service, its
# registry state and the log must be intact, and the service process must not have grown: no more
# handles than at the start and a working set within 1 % (the script exits 1 otherwise).
# Usage: soak.sh [ROUNDS]   (default 20)
set -eu
cd "$(dirname "$0")/.."
rounds=${1:-20}
sh scripts/build.sh >/dev/null
prefix="$PWD/build/mingw/wineprefix"
exe="$PWD/build/mingw/bin/Quorvantis.exe"
out=$(mktemp -d)
run() { sh scripts/wine-run.sh "$prefix" "$exe" "$@" --no-pause >>"$out/console.txt" 2>&1; }
service_pid() { ps -eo pid,args | awk '/Quorvantis.exe --service/ && !/awk/ {print $1; exit}'; }
figures() {
    pid=$(service_pid)
    if [ -n "$pid" ]; then
        echo "$(ls /proc/$pid/fd 2>/dev/null | wc -l) $(awk '/VmRSS/ {print $2}' /proc/$pid/status)"
    else
        echo "- -"
    fi
}

# The same process as Windows counts it: open handles, working set in kB and process id.
win_figures() {
    counted=$(sh scripts/wine-run.sh "$prefix" "$PWD/build/mingw/bin/qv_child.exe" service-figures Quorvantis 2>/dev/null | tr -d '\r')
    echo "${counted:-- - -}"
}

log="$prefix/drive_c/ProgramData/Quorvantis/Quorvantis.log"
rm -f "$log"
run --install --resolution 10000
sleep 2
set -- $(figures)
first_fds=$1 first_rss=$2
refused=0
i=1
while [ $i -le "$rounds" ]; do
    resolution=$(( i % 2 == 0 ? 10000 : 20000 ))
    run --install --resolution $resolution
    run --stop
    run --start
    # Two commands that change the machine at once: one of them must be turned away, never both run.
    sh scripts/wine-run.sh "$prefix" "$exe" --stop --no-pause >"$out/a.txt" 2>&1 &
    sh scripts/wine-run.sh "$prefix" "$exe" --start --no-pause >"$out/b.txt" 2>&1 &
    run --status
    wait
    grep -q "Another Quorvantis operation is already running." "$out/a.txt" "$out/b.txt" && refused=$((refused + 1))
    run --start
    if [ $((i % 5)) -eq 0 ]; then
        sh scripts/wine-run.sh "$prefix" "$exe" --gui >/dev/null 2>&1 &
        sleep 6
        gui=$(ps -eo pid,args | awk '/Quorvantis.exe --gui/ && !/awk|wine-run/ {print $1; exit}')
        [ -n "$gui" ] && kill "$gui" 2>/dev/null || true
        wait || true
    fi
    i=$((i + 1))
done
sleep 2
set -- $(figures)
last_fds=$1 last_rss=$2
# One service process kept running while its control handler is asked for its state again and
# again and it re-asserts the resolution (every 30 s) a few times: whatever it leaks shows here.
set -- $(win_figures)
first_handles=$1 first_ws=$2 first_pid=$3
interrogated=0
started=$(date +%s)
j=1
while [ $j -le "$rounds" ] || [ $(($(date +%s) - started)) -lt 95 ]; do
    answered=$(sh scripts/wine-run.sh "$prefix" "$PWD/build/mingw/bin/qv_child.exe" service-interrogate Quorvantis 50 2>/dev/null | tr -d '\r')
    interrogated=$((interrogated + ${answered:-0}))
    run --status
    j=$((j + 1))
done
reasserts=$((($(date +%s) - started) / 30))
set -- $(win_figures)
last_handles=$1 last_ws=$2 last_pid=$3
[ "$first_pid" = "$last_pid" ] || first_handles=-
run --status
WINEPREFIX="$prefix" wine reg query 'HKLM\SOFTWARE\Quorvantis' /v DesiredResolution >"$out/reg.txt" 2>/dev/null || true
log="$prefix/drive_c/ProgramData/Quorvantis/Quorvantis.log"
# A torn line is two writes run together: a timestamp anywhere but at the start of a line.
torn=$(grep -c '.[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]  ' "$log" || true)
crlf=$(grep -c "$(printf '\r')\$" "$log" || true)
lines=$(wc -l <"$log")
echo "rounds: $rounds"
echo "service after the last round: $(grep -E 'Service:' "$out/console.txt" | tail -1)"
echo "registry: $(grep -o 'DesiredResolution.*' "$out/reg.txt" || echo missing)"
echo "concurrent pairs turned away by the lock: $refused of $rounds"
echo "service process after the first install and after the last round: $first_fds -> $last_fds open descriptors, $first_rss -> $last_rss kB resident"
echo "one service process ($last_pid) across $interrogated answered interrogations and $reasserts re-assertions, as Windows counts it: $first_handles -> $last_handles handles, $first_ws -> $last_ws kB working set"
echo "log: $lines lines, $crlf ending in CR LF, $torn torn"
run --uninstall
rm -rf "$out"
# The bounds: no handle more than at the start, the working set within 1 %, every log line whole.
status=0
case "$first_handles$last_handles$first_ws$last_ws" in
*-*) echo "FAIL: the service's figures could not be read"; status=1 ;;
*)
    [ "$last_handles" -le "$first_handles" ] || { echo "FAIL: the service holds more handles"; status=1; }
    [ $((last_ws * 100)) -le $((first_ws * 101)) ] || { echo "FAIL: the service's working set grew"; status=1; }
    ;;
esac
[ "$torn" -eq 0 ] && [ "$crlf" -eq "$lines" ] || { echo "FAIL: the log has torn or bare-LF lines"; status=1; }
[ $status -eq 0 ] && echo "OK: within the bounds"
exit $status
