#!/bin/bash
# First the fast and the exact path's frames per second over the same range (tamblin_speed, next
# to Tamblin), then one full run of Tamblin: prints frames per second, wall and CPU seconds and
# peak memory, checks the console's shape, the image's length, the memory limit and the image's
# SHA-256 against the published one. Then the whole image once with each form of the fast mix
# (tamblin_form, next to Tamblin): wall and CPU seconds, peak memory and the SHA-256 of each; a
# form the processor cannot run is named as such.
#   tamblin_bench.sh <path to Tamblin> [work directory, default: a new temporary one]
# The image is 783 MB; the work directory keeps it for comparison with other runs.
set -euo pipefail

tamblin=$(realpath "${1:?usage: tamblin_bench.sh <path to Tamblin> [work directory]}")
speed=$(dirname "$tamblin")/tamblin_speed
forms=$(dirname "$tamblin")/tamblin_form
work=${2:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"

frames=195804000
expected_size=783216044
published_sha=058e838a14c24686f556042d9eb6f5ac50476c75fdce8265c94b80d5ceb30310
peak_limit_kb=65536

speed_code=0
exact_image_seconds=
if [[ -x $speed ]]; then
    echo "--- fast and exact path over one range"
    "$speed" | tee speed.txt || speed_code=$?
    exact_image_seconds=$(sed -n 's/^exact path, whole image: *\([0-9]*\) s$/\1/p' speed.txt)
    echo "--- one full run of Tamblin"
fi

start=$(date +%s.%N)
exit_code=0
if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f '%M %U %S' -o usage.txt "$tamblin" > console.txt || exit_code=$?
    read -r peak_kb user_seconds system_seconds < <(tail -n 1 usage.txt)
    peak="$peak_kb KiB"
    cpu="$(echo "$user_seconds + $system_seconds" | bc -l)"
else
    "$tamblin" > console.txt || exit_code=$?
    peak="unavailable (no /usr/bin/time)"
    cpu="unavailable"
fi
end=$(date +%s.%N)
seconds=$(echo "$end - $start" | bc -l)

failures=0
check() {  # check <description> <command...>
    local what=$1
    shift
    if "$@"; then
        echo "ok:   $what"
    else
        echo "FAIL: $what"
        failures=$((failures + 1))
    fi
}

size=$(stat -c %s Reference.wav)
progress_lines=$(tr -cd '\r' < console.txt | wc -c)
lines_of() { tr '\r' '\n' < console.txt; }
head_lines=$(head -n 4 console.txt | tr '\n' '|')
first_line=$(lines_of | sed -n 6p)
last_line=$(lines_of | tail -n 4 | head -n 1)
ending=$(tail -c 13 console.txt | tr '\n' 'N')
estimate='[ 0-9][0-9]+:[0-5][0-9]:[0-5][0-9]'
first_re="^  0\.0% Done - Estimated Remaining $estimate\$"
last_re="^ 99\.9% Done - Estimated Remaining $estimate\$"
banner_re='^\|Reference CD Image Creation for Marrowby V1\.0\|[^|]+\|\|$'

check "exit code 0 (got $exit_code)" test "$exit_code" -eq 0
check "image is $expected_size bytes (got $size)" test "$size" -eq "$expected_size"
check "console starts: empty line, banner, notice, empty line ('$head_lines')" \
    eval '[[ $head_lines =~ $banner_re ]]'
check "9,999 progress lines (got $progress_lines)" test "$progress_lines" -eq 9999
check "first progress line shows 0.0 ('$first_line')" eval '[[ $first_line =~ $first_re ]]'
check "last progress line shows 99.9 ('$last_line')" eval '[[ $last_line =~ $last_re ]]'
check "console ends: empty line, Finished!, empty line" test "$ending" = "NNFinished!NN"
if [[ -n ${peak_kb:-} ]]; then
    check "peak memory at most $peak_limit_kb KiB (got $peak_kb)" test "$peak_kb" -le "$peak_limit_kb"
fi
if [[ -x $speed ]]; then
    check "fast and exact path give the same bytes over the range" test "$speed_code" -eq 0
fi

sha=$(sha256sum Reference.wav 2>/dev/null | cut -d' ' -f1) || sha=unavailable
check "SHA-256 is the published image's" test "$sha" = "$published_sha"
echo "frames:            $frames"
echo "total seconds:     $(printf '%.1f' "$seconds")"
echo "frames per second: $(echo "$frames / $seconds" | bc)"
echo "CPU seconds:       $cpu"
echo "peak memory:       $peak"
if [[ -n $exact_image_seconds ]]; then
    echo "exact path, whole image: $exact_image_seconds s (from the range above): the full run is" \
        "$(printf '%.0f' "$(echo "$exact_image_seconds / $seconds" | bc -l)") times faster"
fi
echo "SHA-256:           $sha"
echo "image:             $work/Reference.wav"

# One whole image per form: the same program body with the form forced.
if [[ -x $forms && -x /usr/bin/time ]]; then
    echo "--- the whole image with each form of the fast mix (load $(cut -d' ' -f1-3 /proc/loadavg))"
    printf '%-9s %8s %8s %10s  %s\n' form "wall s" "CPU s" "peak KiB" SHA-256
    for form in portable avx2 avx512; do
        rm -f Reference.wav
        form_start=$(date +%s.%N)
        form_code=0
        /usr/bin/time -f '%M %U %S' -o "usage.$form.txt" "$forms" "$form" > "console.$form.txt" \
            2> "error.$form.txt" || form_code=$?
        form_end=$(date +%s.%N)
        if [[ $form_code -eq 2 ]]; then
            printf '%-9s %s\n' "$form" "not run: $(head -n 1 "error.$form.txt")"
            continue
        fi
        read -r form_peak form_user form_system < <(tail -n 1 "usage.$form.txt")
        form_sha=$(sha256sum Reference.wav 2>/dev/null | cut -d' ' -f1) || form_sha=unavailable
        printf '%-9s %8.1f %8.1f %10d  %s\n' "$form" "$(echo "$form_end - $form_start" | bc -l)" \
            "$(echo "$form_user + $form_system" | bc -l)" "$form_peak" "$form_sha"
        check "$form form: exit code 0 (got $form_code) and the published SHA-256" \
            test "$form_code" -eq 0 -a "$form_sha" = "$published_sha"
    done
fi
exit $((failures > 0))
