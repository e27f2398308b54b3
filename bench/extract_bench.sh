#!/bin/bash
# A whole 74-minute disc read by Quellor from a simulated drive: prints wall time, sectors per
# second and peak memory, and checks the two files' lengths.
#   extract_bench.sh <build directory> <Reference.wav> [work directory]
set -euo pipefail

. "$(dirname "$0")/work_folder.sh"

# An honest drive with every C2 form, a scratch and a bad sector, reading the reference.
cat > bench.drive <<DRIVE
[drive]
vendor = "BENCH"
product = "DRIVE"
disc = wav $reference
damage_seed = 7
scratch = 100000 300 0.02 16
bad_sector = 200000 0.1
DRIVE
sectors=$(( ($(stat -c %s "$reference") - 44) / 2352 ))

export LD_LIBRARY_PATH="$build/standin/both" SIMDRIVE_DESCRIPTION="$work/bench.drive"
cat "$reference" > /dev/null  # the disc's audio in the page cache, as a spinning disc would be
start=$(date +%s.%N)
/usr/bin/time -f '%M' -o peak_kb.txt "$build/bin/Quellor" 0 > console.txt
end=$(date +%s.%N)
seconds=$(echo "$end - $start" | bc -l)

printf 'sectors:        %d\n' "$sectors"
printf 'wall time:      %.2f s\n' "$seconds"
printf 'sectors/second: %.0f (%.0f times a 52x drive)\n' "$(echo "$sectors / $seconds" | bc -l)" \
    "$(echo "$sectors / $seconds / 3900" | bc -l)"
printf 'peak memory:    %s KiB\n' "$(cat peak_kb.txt)"
test "$(stat -c %s BENCHDRIVE.wav)" -eq $((44 + 2352 * sectors)) && echo "ok:   .wav length"
test "$(stat -c %s BENCHDRIVE.c2)" -eq $((294 * sectors)) && echo "ok:   .c2 length"
