#!/usr/bin/env bash
# The whole Marrowby test on a simulated drive, for a machine without a CD drive:
#   1. Tamblin writes the reference image, Reference.wav;
#   2. a simulated drive serves a damaged disc made from it (simdrive/drives/all-c2-forms.drive);
#   3. Quellor 0 reads that disc back into SIMDRIVEALLC2FORMS.wav and .c2;
#   4. c2report compares the extraction with the reference and gives the verdict.
# Everything lands in out/demo/. An existing Reference.wav of the right length is reused.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset release > /dev/null
cmake --build --preset release
bin=$root/build/release/bin
out=$root/out/demo
mkdir -p "$out"
cd "$out"

if [[ -f Reference.wav && $(stat -L -c %s Reference.wav) -eq 783216044 ]]; then
    echo "Using the Reference.wav already in $out (delete it to make it anew)."
else
    "$bin/Tamblin"
fi

# The stand-in manager library serves the described drives to Quellor; a real drive needs
# none of this: run "Quellor <drive number>" alone.
LD_LIBRARY_PATH=$root/build/release/standin/both \
SIMDRIVE_DESCRIPTION=$root/simdrive/drives/all-c2-forms.drive \
SIMDRIVE_WAV=$out/Reference.wav \
    "$bin/Quellor" 0

"$bin/c2report" Reference.wav SIMDRIVEALLC2FORMS.wav SIMDRIVEALLC2FORMS.c2
echo
echo "Files in $out: the extraction (.wav, .c2) and the report (.report.csv, .report.svg)."
