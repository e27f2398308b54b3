# Sourced by cases.sh: the whole test suite of the Windows build, one wine start per test
# program for its test list and one for all its tests, two programs at a time (one per
# processor: under TCG one program's exact x87 arithmetic alone takes minutes). The host shares the source tree (and
# the build tree) at their own paths, since the tests know their files by those paths, and a
# writable results share that holds programs.txt and receives each program's list, console and
# gtest XML.
SUITE_PROGRAM_LIMIT=900  # seconds; a program still running then is taken for hung

suite_cases() {
    wine_mount || return
    results=$WINE_ROOT/rig/results
    if ! share results $results rw; then
        echo "RIG suite: cannot mount the results share"
        return
    fi
    share source "$WINE_ROOT$RIG_source" ro || echo "RIG suite: cannot mount the source tree"
    if [ -n "${RIG_binary:-}" ]; then
        share binary "$WINE_ROOT$RIG_binary" ro || echo "RIG suite: cannot mount the build tree"
    fi
    wine_prefix
    wine_start || return
    suite_started=$(uptime_s)
    bin=$(sed -n 's/^bin //p' $results/programs.txt)
    mkdir -p /tmp/claimed
    suite_lane &
    suite_lane
    wait
    echo "RIG suite: every program ran in $(awk "BEGIN { print $(uptime_s) - $suite_started }") s"
    wine_stop
    sync
}

suite_lane() {  # runs each program of the list that no other lane has claimed yet
    while read -r kind path filter; do
        [ "$kind" = program ] || continue
        # mkdir either makes the folder or finds it made: one lane wins each program.
        mkdir "/tmp/claimed/$(basename "$path")" 2>/dev/null || continue
        suite_program "$path" "${filter:-*}"
    done <$results/programs.txt
}

suite_program() {  # <program.exe> <gtest filter>
    name=$(basename "$1" .exe)
    run=/tmp/run/$name
    mkdir -p "$WINE_ROOT$run"
    env="$WINE_ENV MARROWBY_BIN=$bin WINEDLLOVERRIDES=wnaspi32=n"
    started=$(uptime_s)
    timeout 120 chroot $WINE_ROOT $env sh -c "cd $run && exec wine $1 --gtest_list_tests \
--gtest_filter='$2'" >"$results/$name.list" 2>"$results/$name.list-stderr"
    echo "$?" >"$results/$name.list-rc"
    timeout $SUITE_PROGRAM_LIMIT chroot $WINE_ROOT $env sh -c "cd $run && exec wine $1 \
--gtest_filter='$2' --gtest_output=xml:Z:/rig/results/$name.xml" >"$results/$name.log" 2>&1
    rc=$?
    seconds=$(awk "BEGIN { print int($(uptime_s) - $started + 0.5) }")
    if [ "$seconds" -ge $SUITE_PROGRAM_LIMIT ]; then
        echo "timed out after $SUITE_PROGRAM_LIMIT s" >"$results/$name.status"
    else
        echo "ended with exit code $rc after $seconds s" >"$results/$name.status"
    fi
    echo "RIG suite: $name $(cat "$results/$name.status")"
}
