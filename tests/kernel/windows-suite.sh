#!/usr/bin/env bash
# windows-suite.sh <program list> <results folder> <source folder> <Windows build folder>:
# boots the rig's guest, which runs each test program of the list under wine (tests/kernel/
# guest/windows_suite.sh), and leaves each program's test list, console and gtest XML in the
# results folder for CTest to report. Fails, naming the cause, when the guest did not run the
# suite to its end; failing tests are CTest's to report.
set -euo pipefail
list=$1 results=$2 source=$3 build=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$results"
mkdir -p "$results"
cp "$list" "$results/programs.txt"
started=$SECONDS
"$here/run-rig.sh" suite "$results/rig" "$results" "$source" "$build"
programs=$(grep -c '^program ' "$results/programs.txt")
missing=()
while read -r kind program _; do
    [[ $kind == program ]] || continue
    name=$(basename "$program" .exe)
    [[ -s $results/$name.xml ]] || missing+=("$name ($(cat "$results/$name.status" 2>/dev/null ||
        echo "not started"))")
done <"$results/programs.txt"
echo "windows-suite.sh: $programs test programs ran in the guest in $((SECONDS - started)) s" \
    "(boot included)"
if ((${#missing[@]})); then
    printf 'windows-suite.sh: no results from %s\n' "${missing[@]}" >&2
fi
if ((${#missing[@]} == programs)); then
    echo "windows-suite.sh: wine ran no test program in the guest; its console says:" >&2
    grep -a '^RIG' "$results/rig/console.log" | tail -n 20 >&2
    exit 1
fi
