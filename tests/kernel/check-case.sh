#!/usr/bin/env bash
# check-case.sh <console log> <case>: passes when the rig's run reported the case as passed;
# prints what the guest said about it either way.
log=$1 case=$2
if [[ ! -f $log ]]; then
    echo "no rig run ($log is missing)"
    exit 1
fi
tr -d '\r' <"$log" | grep -aF "RIG $case: " || true
if tr -d '\r' <"$log" | grep -aqxF "RIG-RESULT $case PASS"; then
    exit 0
fi
tr -d '\r' <"$log" | grep -aqxF "RIG-RESULT $case FAIL" || echo "the rig did not run $case"
exit 1
