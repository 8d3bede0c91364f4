#!/bin/sh
# Starts or stops the HTTPS server that plays the vendor hosts for the GPU Clean tests.
# Usage: vendor-server.sh start|stop FOLDER
set -eu
action=$1
folder=$2
case $action in
start)
    sh "$(dirname "$0")/vendor-server.sh" stop "$folder"
    mkdir -p "$folder"
    rm -f "$folder/port" "$folder/requests.log"
    # Detached, with every stream on files: CTest waits for whoever holds its pipes.
    setsid nohup python3 "$(dirname "$0")/../tests/support/vendor_server.py" "$folder" \
        </dev/null >"$folder/server.out" 2>&1 &
    i=0
    while [ ! -f "$folder/port" ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i + 1)); done
    if [ ! -f "$folder/port" ]; then
        echo "the vendor test server did not start:"
        cat "$folder/server.out"
        exit 1
    fi
    echo "vendor test server on port $(cat "$folder/port")"
    ;;
stop)
    if [ -f "$folder/pid" ]; then
        kill "$(cat "$folder/pid")" 2>/dev/null || true
        rm -f "$folder/pid" "$folder/port"
    fi
    ;;
esac
