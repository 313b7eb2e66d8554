#!/bin/sh
# Runs a test program as an unprivileged user (uid 65534) under umockdev's
# preload library, from a copy in a folder that user may enter wherever the
# build tree lives. Usage: run_as_nobody.sh SETPRIV WRAPPER PROGRAM ARGS...
set -u
setpriv=$1 wrapper=$2 program=$3
shift 3
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cp "$program" "$dir/" && chmod 755 "$dir" || exit 1
cd /tmp || exit 1
"$setpriv" --reuid=65534 --regid=65534 --clear-groups "$wrapper" "$dir/$(basename "$program")" "$@"
