#!/bin/sh
# Installs whatever this machine lacks to build the Windows program and run it under Wine.
set -eu

# libgl1 and libgnutls30 are only recommended by Wine: without them there is no Direct3D or TLS.
packages="g++-mingw-w64-x86-64-posix wine wine64 cmake ninja-build googletest xvfb xauth libgl1 libglx-mesa0 libgl1-mesa-dri libgnutls30 openssl osslsigncode python3 clang libclang-rt-14-dev"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
fi
