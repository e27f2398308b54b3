#!/bin/bash
# The pool at the size of a busy dataset: 100,000 generated submissions of 8 passes each are
# added to a new pool (time and peak memory), its site is written, then one more submission is
# added and the site written again, which should rewrite only the index, that model's page and
# the exports. Prints the load average too: figures taken while other work runs say little.
#   pool_bench.sh <build directory> [work directory] [submissions]
set -euo pipefail

usage="usage: $(basename "$0") <build directory> [work directory] [submissions]"
build=$(realpath "${1:?$usage}")
work=${2:-$(mktemp -d)}
count=${3:-100000}
mkdir -p "$work"
cd "$work"
rm -rf submissions more site pool.sqlite pool.sqlite-wal pool.sqlite-shm

# Seconds and peak resident memory of one command, from GNU time.
measure() {  # <label> <command...>
    local label=$1
    shift
    /usr/bin/time -f '%e %M' -o measured.txt "$@" > "$label.txt" 2>&1 ||
        { echo "$label failed:"; cat "$label.txt"; exit 1; }
    read -r seconds kilobytes < measured.txt
    printf '%-34s %7.2f s  %6d MB peak\n' "$label" "$seconds" $((kilobytes / 1024))
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "generate $count submissions" "$build/bin/c2pool_examples" submissions "$count" --passes 8
measure "add $count submissions" "$build/bin/c2pool" add pool.sqlite submissions
measure "site of the pool" "$build/bin/c2pool" site pool.sqlite site
"$build/bin/c2pool_examples" more 1 --passes 8 --seed 4242 > /dev/null
touch -d '1 second ago' before-more
start=$(date +%s.%N)
measure "add one more submission" "$build/bin/c2pool" add pool.sqlite more
measure "site after it" "$build/bin/c2pool" site pool.sqlite site
printf '%-34s %7.2f s\n' "one more add, then site" "$(echo "$(date +%s.%N) - $start" | bc -l)"
echo "files the second site rewrote: $(find site -type f -newer before-more -printf '%P ' | sort)"
echo "pool: $(du -h pool.sqlite | cut -f1); site: $(du -sh site | cut -f1) in $(find site -type f | wc -l) files"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
