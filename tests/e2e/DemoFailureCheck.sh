#!/bin/sh
# The autopilot must not call a failed update a success: with the adapter pulled out in the
# middle of the transfer, q218-demo has to report the "Update Error." box and exit 1.
# Usage: DemoFailureCheck.sh <q218-demo> <screenshot folder>
demo=$1
shots=$2
out=$("$demo" --autopilot --unpaced --timeout 60 --unplug-at-frame 100 --shots "$shots" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ "$rc" -ne 1 ]; then
    echo "DemoFailureCheck: q218-demo exited $rc, expected 1"
    exit 1
fi
if ! printf '%s\n' "$out" | grep -q 'message box: "Update Error."'; then
    echo "DemoFailureCheck: no \"Update Error.\" message box in the transcript"
    exit 1
fi
if printf '%s\n' "$out" | grep -q 'autopilot: verified'; then
    echo "DemoFailureCheck: the autopilot claimed a verified update"
    exit 1
fi
