#!/usr/bin/env bash
# Runs every harness of the fuzz preset, two at a time, from the seed corpus in
# tests/fuzz/corpus/<target>/. The arguments go to each harness (default: 20 seconds each);
# inputs found on the way are kept in build/fuzz/corpus/<target>/, crashing inputs in
# build/fuzz/crashes/. Fails when any harness crashed; its log is printed.
#   tests/fuzz/run.sh                    # 20 s each, as CI runs them
#   tests/fuzz/run.sh -runs=10000000     # ten million executions each
#   FUZZ_TARGETS="study_reader verdict_reader" tests/fuzz/run.sh -max_total_time=600
set -uo pipefail
cd "$(dirname "$0")/../.."
build=build/fuzz

run_one() {
    local target=$1
    shift
    local dictionary=()
    mkdir -p "$build/corpus/$target"
    # A harness of a text format has a dictionary of its keys beside it.
    [[ -f tests/fuzz/$target.dict ]] && dictionary=(-dict="tests/fuzz/$target.dict")
    "$build/bin/${target}_fuzz" "$@" "${dictionary[@]}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target-" \
        "$build/corpus/$target" "tests/fuzz/corpus/$target" >"$build/logs/$target.log" 2>&1
}

report() {
    local target=$1 status=$2 runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$target.log")
    if ((status == 0)); then
        echo "fuzz $target: ${runs:-?} runs, no crash"
    else
        echo "fuzz $target: FAILED (exit $status)"
        cat "$build/logs/$target.log"
        failed=1
    fi
}

declare -A running=()
failed=0

wait_one() {
    local pid status
    wait -n -p pid
    status=$?
    report "${running[$pid]}" "$status"
    unset "running[$pid]"
}

main() {
    local options=("$@") harness target
    ((${#options[@]})) || options=(-max_total_time=20)
    mkdir -p "$build/crashes" "$build/logs"
    # Crash stacks with files and lines when a symbolizer is at hand (clang-16's, else llvm's).
    for symbolizer in /usr/lib/llvm-16/bin/llvm-symbolizer "$(command -v llvm-symbolizer)"; do
        if [[ -z ${ASAN_SYMBOLIZER_PATH:-} && -x $symbolizer ]]; then
            export ASAN_SYMBOLIZER_PATH=$symbolizer
        fi
    done
    for harness in tests/fuzz/*_fuzz.cpp; do
        target=${harness##*/}
        target=${target%_fuzz.cpp}
        if [[ -n ${FUZZ_TARGETS:-} && " $FUZZ_TARGETS " != *" $target "* ]]; then
            continue
        fi
        while ((${#running[@]} >= 2)); do
            wait_one
        done
        run_one "$target" "${options[@]}" &
        running[$!]=$target
    done
    while ((${#running[@]})); do
        wait_one
    done
    return "$failed"
}

# One line: bash has read it whole before it runs, so editing this file cannot derail a run.
main "$@"; exit
