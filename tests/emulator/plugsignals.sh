#!/bin/sh
# plugsignals.sh EMULATOR: SIGUSR1 to the emulator unplugs its camera, SIGUSR2 plugs it back.
set -eu
seen=$("$1" -q --camera -- sh -c '
    count() { lsusb -d a0a0: | wc -l; }
    wait_for() { i=0; while [ "$(count)" -ne "$1" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done; count; }
    wait_for 1; kill -USR1 $PPID; wait_for 0; kill -USR2 $PPID; wait_for 1' | tr '\n' ' ')
test "$seen" = "1 0 1 "
