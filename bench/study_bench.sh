#!/bin/bash
# Each pass of a study beside a plain run of the same 74-minute simulated disc: a pass is the
# plain pass itself, so its time should stay within a tenth of the plain run's. Prints the load
# average too: figures taken while other work runs say little.
#   study_bench.sh <build directory> <Reference.wav> [work directory]
set -euo pipefail

. "$(dirname "$0")/work_folder.sh"

# Three forms, the plain run's READ CD 0x14 among them, with a scratch and a bad sector.
cat > bench.drive <<DRIVE
[drive]
vendor = "BENCH"
product = "STUDY"
read_cd = 0x10 0x14
vendor_d8 = 0x00 0x04
density_c2 = yes
disc = wav $reference
damage_seed = 7
scratch = 100000 300 0.02 16
bad_sector = 200000 0.1
read_speeds = 8x 48x
c2_form = d8 lag 295
c2_form = density lag 40 granularity sample
DRIVE

export LD_LIBRARY_PATH="$build/standin/both" SIMDRIVE_DESCRIPTION="$work/bench.drive"
export SIMDRIVE_ASPI_COMPLETION=early
cat "$reference" > /dev/null  # the disc's audio in the page cache, as a spinning disc would be

# The machine slows every run once gigabytes of output pile up (page cache and writeback): the
# study's passes are set beside as many plain runs whose outputs are kept alike, so that pass
# k and plain run k meet the same pile.
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
plain=()
for run in 1 2 3 4 5 6; do
    start=$(date +%s.%N)
    "$build/bin/Quellor" 0 > plain.txt
    plain+=("$(echo "$(date +%s.%N) - $start" | bc -l)")
    mv BENCHSTUDY.wav "plain$run.wav" && mv BENCHSTUDY.c2 "plain$run.c2"
done
rm -f ./plain*.wav ./plain*.c2
sync

"$build/bin/Quellor" --study 0 --speeds 8x,max > study.txt
# One pass a line: its name and its seconds, from the study file.
run=0
paste -d' ' <(grep -o '"wav": "[^"]*"' BENCHSTUDY.study.json | cut -d'"' -f4) \
            <(grep -o '"seconds": [0-9.]*' BENCHSTUDY.study.json | cut -d' ' -f2) |
while read -r name seconds; do
    printf '%-30s %6.2f s; plain run %d: %6.2f s (%+.0f %%)\n' "$name" "$seconds" \
        $((run + 1)) "${plain[run]}" "$(echo "($seconds - ${plain[run]}) * 100 / ${plain[run]}" | bc -l)"
    run=$((run + 1))
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f ./*.wav ./*.c2
