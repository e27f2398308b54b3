#!/usr/bin/env bash
# The whole Marrowby test on simulated drives, for a machine without a CD drive:
#   1. Tamblin writes the reference image, Reference.wav;
#   2. three simulated drives (demo/three-drives.drive) hold the same damaged disc made from it:
#      one with honest C2 pointers, one partly honest with false flags, one whose pointers come
#      one sector late;
#   3. Quellor 0, 1 and 2 read that disc with each drive into <drive>.wav and .c2;
#   4. c2report gives each drive's verdict (console, .report.json, .report.html, ...);
#   5. c2report --compare ranks the three drives;
#   6. Quellor --study reads a fourth drive with each of its three C2 forms at two speeds, and
#      c2report --study judges every pass and ranks them;
#   7. c2pool pools the study's submission with three dozen generated ones (vendor "EXAMPLE")
#      and writes the pool's site.
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
    cmake --build --preset release ${prefix:+--target simdrive_aspi c2pool_examples}
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
drives=(SIMDRIVEHONEST SIMDRIVEPARTLYHONEST SIMDRIVELATEC2)
for number in 0 1 2; do
    echo
    LD_LIBRARY_PATH=$build/standin/both \
    SIMDRIVE_DESCRIPTION=$root/demo/three-drives.drive \
    SIMDRIVE_WAV=$out/Reference.wav \
        "$bin/Quellor" "$number"
done

verdicts=()
for drive in "${drives[@]}"; do
    echo
    echo "=== $drive ==="
    "$bin/c2report" Reference.wav "$drive.wav" "$drive.c2"
    verdicts+=("$drive.report.json")
done

echo
"$bin/c2report" --compare "${verdicts[@]}"
echo
echo "Files in $out: each drive's extraction (.wav, .c2) and verdict (.report.json,"
echo ".report.csv, .report.svg); the pages to open in a browser:"
for drive in "${drives[@]}"; do
    echo "  $out/$drive.report.html"
done
echo "  $out/comparison.html (the ranking; comparison.csv beside it)"

# A study of one more simulated drive: three C2 forms that differ in honesty, lag and
# granularity, each read at 8x and at the drive's fastest, six passes of the whole disc.
echo
echo "=== A drive study: SIMDRIVESTUDY, three forms at 8x and max ==="
LD_LIBRARY_PATH=$build/standin/both \
SIMDRIVE_DESCRIPTION=$root/simdrive/drives/study-three-forms.drive \
SIMDRIVE_WAV=$out/Reference.wav \
    "$bin/Quellor" --study 0 --speeds 8x,max || true
echo
"$bin/c2report" --study Reference.wav SIMDRIVESTUDY.study.json
echo
echo "The study's page (every form at every speed, each cell linking to its pass's page):"
echo "  $out/SIMDRIVESTUDY.study.html"
echo "  $out/SIMDRIVESTUDY.study.json (what the study found and did)"

# The pool: the study's submission beside generated ones, whose vendor "EXAMPLE" says they are
# not measurements, and the static site of the pool (where SQLite was there to build c2pool).
[[ -x $bin/c2pool ]] || exit 0
echo
echo "=== The pool: SIMDRIVESTUDY's submission among 36 generated examples ==="
rm -rf pool-examples pool-site pool.sqlite pool.sqlite-wal pool.sqlite-shm
"$build/bin/c2pool_examples" pool-examples 36 --passes 6 > /dev/null
"$bin/c2pool" add pool.sqlite SIMDRIVESTUDY.submission.json pool-examples
"$bin/c2pool" site pool.sqlite pool-site
echo
echo "The pool's site (the models ranked, a page per model, the figures as CSV and JSON):"
echo "  $out/pool-site/index.html"
