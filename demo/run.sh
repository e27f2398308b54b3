#!/usr/bin/env bash
# The whole Marrowby test on a simulated drive, for a machine without a CD drive:
#   1. Tamblin writes the reference image, Reference.wav;
#   2. a simulated drive serves a damaged disc made from it (simdrive/drives/all-c2-forms.drive);
#   3. Quellor 0 reads that disc back into SIMDRIVEALLC2FORMS.wav and .c2;
#   4. c2report compares the extraction with the reference and gives the verdict.
# Everything lands in out/demo/. An existing Reference.wav of the right length is reused.
#
#   demo/run.sh [--prefix DIR] [--build DIR] [--out DIR]
#     --prefix DIR  run the programs installed under DIR (cmake --install) instead of built ones
#     --build DIR   take the built programs and the simulated drive from this build tree as it
#                   stands (default: build the release preset, only the simulated drive when
#                   --prefix is given)
#     --out DIR     where the files land instead of out/demo
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix='' build='' out=$root/out/demo
while (($#)); do
    case $1 in
        --prefix | --build | --out)
            (($# >= 2)) || { echo "$1 needs a folder" >&2; exit 2; }
            declare "${1#--}=$(realpath -m -- "$2")"
            shift 2 ;;
        *) sed -n '/^#   demo/,/^set -e/p' "$0" | sed '$d; s/^# \{1,3\}//' >&2; exit 2 ;;
    esac
done
cd "$root"
if [[ -z $build ]]; then
    build=$root/build/release
    cmake --preset release > /dev/null
    cmake --build --preset release ${prefix:+--target simdrive_aspi}
fi
bin=${prefix:+$prefix/bin}
bin=${bin:-$build/bin}
mkdir -p "$out"
cd "$out"

if [[ -f Reference.wav && $(stat -L -c %s Reference.wav) -eq 783216044 ]]; then
    echo "Using the Reference.wav already in $out (delete it to make it anew)."
else
    "$bin/Tamblin"
fi

# The stand-in manager library serves the described drives to Quellor; a real drive needs
# none of this: run "Quellor <drive number>" alone.
LD_LIBRARY_PATH=$build/standin/both \
SIMDRIVE_DESCRIPTION=$root/simdrive/drives/all-c2-forms.drive \
SIMDRIVE_WAV=$out/Reference.wav \
    "$bin/Quellor" 0

"$bin/c2report" Reference.wav SIMDRIVEALLC2FORMS.wav SIMDRIVEALLC2FORMS.c2
echo
echo "Files in $out: the extraction (.wav, .c2) and the report (.report.csv, .report.svg)."
