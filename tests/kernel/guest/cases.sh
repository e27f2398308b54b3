#!/bin/sh
# The rig's cases, run by /init inside the guest: cases.sh test|bench. Every case prints its
# findings as "RIG <case>: ..." and ends with one "RIG-RESULT <case> PASS" or "... FAIL".
set -u
DESC=/rig/rig.drive
TARGET=/sys/kernel/config/target
BIN=/rig/bin
RUNS=/tmp/run  # where each run gets its own folder
BANNER="Quellor for Marrowby V1.1
Copyright (c) the Marrowby developers. Free to use for testing CD drives.

"

note() { echo "RIG $case: $*"; }
failed() { note "FAIL: $*"; ok=no; }
begin() {
    case=$1 ok=yes
    case_started=$(uptime_s)
}
finish() {
    note "took $(awk "BEGIN { print $(uptime_s) - $case_started }") s"
    [ $ok = yes ] && echo "RIG-RESULT $case PASS" || echo "RIG-RESULT $case FAIL"
}
uptime_s() { cut -d' ' -f1 /proc/uptime; }
. /rig/wine.sh
. /rig/windows_suite.sh

wait_for() {  # <seconds> <command...>: polls the command every 0.1 s
    tries=$(($1 * 10))
    shift
    while ! "$@" 2>/dev/null; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        usleep 100000
    done
}

start_handler() {  # <index>: a handler with a fresh drive model for backstore drive<index>
    "$BIN/simdrive_tcmu" "drive$1" "$DESC" "$1" >"/tmp/handler$1.log" 2>&1 &
    eval "HANDLER_$1=$!"
    if ! wait_for 30 grep -q ready "/tmp/handler$1.log"; then
        echo "RIG handler $1 did not start: $(cat "/tmp/handler$1.log")"
        return 1
    fi
}

# Like switching a drive off and on: the ring stays, the model starts afresh.
restart_handler() {  # <index>
    eval "pid=\$HANDLER_$1"
    kill "$pid"
    wait "$pid" 2>/dev/null
    start_handler "$1"
}

# add_drive <index> <host> <target>: drive <index> of the description as backstore
# core/user_0/drive<index>, served by its own handler, linked as LUN 0 of loopback target
# <target> of the loopback port <host> (one SCSI host per port).
add_drive() {
    store=$TARGET/core/user_0/drive$1
    port=$TARGET/loopback/naa.50014050000000$2
    tpg=$port/tpgt_$3
    mkdir -p "$store"
    echo -n "dev_config=simdrive/drive$1,dev_size=1073741824" >"$store/control"
    echo 1 >"$store/enable"
    start_handler "$1" || return 1
    mkdir -p "$tpg/lun/lun_0"
    echo "naa.50014051000000$2" >"$tpg/nexus"
    ln -s "$store" "$tpg/lun/lun_0/drive$1"
    address=$(cat "$tpg/address"):0
    wait_for 30 test -d "/sys/bus/scsi/devices/$address/block" || echo "RIG drive $1: no block device"
    eval "ADDRESS_$1=$address"
}

node() {  # node <drive index> scsi_generic|block: /dev/<name> of the drive, or nothing
    eval "address=\$ADDRESS_$1"
    name=$(ls "/sys/bus/scsi/devices/$address/$2" 2>/dev/null | head -n 1)
    [ -n "$name" ] && echo "/dev/$name"
}

# quellor <folder> <user> <program and arguments...>: runs in a fresh folder, leaving
# stdout, stderr and rc there.
quellor() {
    dir=$1 user=$2
    shift 2
    rm -rf "$dir"
    mkdir -p "$dir"
    chmod 777 "$dir"
    if [ "$user" = root ]; then
        (cd "$dir" && "$@" >stdout 2>stderr; echo $? >rc)
    else
        su -s /bin/sh "$user" -c "cd '$dir' && $* >stdout 2>stderr; echo \$? >rc"
    fi
}

expect_file() {  # <label> <expected file> <actual file>
    if [ ! -f "$3" ]; then
        failed "$1: $(basename "$3") is missing"
    elif ! cmp -s "$2" "$3"; then
        failed "$1 differs from the model's: $(cmp "$2" "$3" 2>&1 | head -n 1)"
        [ "$1" = console ] && note "console after the banner: $(tail -n +4 "$3" | tr '\r\n' '|/')"
    fi
}

expect_text() {  # <label> <expected text> <actual file>
    printf '%s' "$2" >/tmp/expected.txt
    expect_file "$1" /tmp/expected.txt "$3"
}

expect_rc() {  # <folder> <code>
    [ "$(cat "$1/rc")" = "$2" ] || failed "exit code $(cat "$1/rc"), expected $2"
}

expect_no_outputs() {  # <folder>
    for file in "$1"/*.wav "$1"/*.c2; do
        [ -e "$file" ] && failed "wrote $(basename "$file") although it refused the disc"
    done
}

# extraction <case> <drive number> <description index> <base name> <user> [program]: Quellor's
# console and both files against the model's truth.
extraction() {
    begin "$1"
    run=$RUNS/$case truth=/tmp/truth/$case
    program=${6:-$BIN/Quellor}
    quellor "$run" "$5" $program "$2"
    rm -rf "$truth"
    mkdir -p "$truth"
    "$BIN/rig_truth" "$DESC" "$3" "$truth" "$4"
    if [ "${CRLF:-no}" = yes ]; then  # the Windows build's console ends lines with CR LF
        sed 's/$/\r/' "$truth/stdout" >"$truth/stdout.crlf"
        mv "$truth/stdout.crlf" "$truth/stdout"
    fi
    expect_rc "$run" 0
    expect_file "console" "$truth/stdout" "$run/stdout"
    expect_file "$4.wav" "$truth/$4.wav" "$run/$4.wav"
    expect_file "$4.c2" "$truth/$4.c2" "$run/$4.c2"
    [ -s "$run/stderr" ] && note "stderr: $(cat "$run/stderr")"
    rm -f "$run"/*.wav "$run"/*.c2 "$truth"/*.wav "$truth"/*.c2
}

# refusal <case> <drive number> <message> <user>: Quellor ends with the message, no files.
refusal() {
    begin "$1"
    run=/tmp/run/$case
    quellor "$run" "$4" "$BIN/Quellor" "$2"
    expect_rc "$run" 0
    expect_text "console" "$BANNER$3

" "$run/stdout"
    expect_no_outputs "$run"
}

# study <case> <drive number> <description index> <base name> [program] [bus]: Quellor --study
# of two forms at 8x and at the drive's top speed; each pass's files against the model's truth
# for its form and speed, the study file's forms and speeds, the drive's vendor-specific bytes,
# the hash of its serial number and (when given) the bus the OS reports.
study() {
    begin "$1"
    run=$RUNS/$case truth=/tmp/truth/$case
    program=${5:-$BIN/Quellor}
    quellor "$run" root $program --study "$2" --speeds 8x,max
    expect_rc "$run" 0
    tr -d '\r' <"$run/stdout" | grep -qxF "4 of 4 passes completed; the study is in $4.study.json" ||
        failed "console after the banner: $(tail -n +4 "$run/stdout" | tr '\r\n' '|/')"
    rm -rf "$truth"
    mkdir -p "$truth"
    for pass in readcd14.8x readcd14.max d8.8x d8.max; do
        "$BIN/rig_truth" "$DESC" "$3" "$truth" "$4.$pass" "${pass%.*}" "${pass#*.}"
        expect_file "$4.$pass.wav" "$truth/$4.$pass.wav" "$run/$4.$pass.wav"
        expect_file "$4.$pass.c2" "$truth/$4.$pass.c2" "$run/$4.$pass.c2"
    done
    # SET CD SPEED took: 8x is 1,412 kB/s, the top 24x 4,234.
    json=$(tr -d ' \r\n' <"$run/$4.study.json")
    # The unit is the hash of "marrowby-unit:RIGSERIAL0007"; the serial itself is never written.
    unit=27acb1083a161f7f4fc56f8b9245db913bbc72602fc02bc27fdbea25a36153f4
    for expected in '"formsFound":["readcd14","d8"]' '"speedReportedKBps":1412' \
        '"speedReportedKBps":4234' '"vendorSpecific":"RIG-2026-12-BUILD-07"' "\"unit\":\"$unit\"" \
        ${6:+"\"transport\":\"$6\""}; do
        case $json in *"$expected"*) ;; *) failed "the study file lacks $expected: $json" ;; esac
    done
    case $json in *RIGSERIAL0007*) failed "the study file holds the serial number" ;; esac
    # The rate the reads took, beside the one the drive reports.
    case $json in *'"measuredKBps":'[0-9]*) ;; *) failed "the study file lacks measuredKBps: $json" ;; esac
    [ -s "$run/stderr" ] && note "stderr: $(cat "$run/stderr")"
    rm -f "$run"/*.wav "$run"/*.c2 "$truth"/*.wav "$truth"/*.c2
}

# manners <case> <drive number> <description index> <base name> [program]: as extraction, for
# a drive that spins up, reports a change and pauses mid-disc. The kernel may take the change or
# the spin-up itself, so the console may or may not hold the waiting line; the rest of it and
# the files must be the model's, those of a drive without manners.
manners() {
    begin "$1"
    run=$RUNS/$case truth=/tmp/truth/$case
    program=${5:-$BIN/Quellor}
    quellor "$run" root $program "$2"
    rm -rf "$truth"
    mkdir -p "$truth"
    "$BIN/rig_truth" "$DESC" "$3" "$truth" "$4"
    sed 's/\r$//' "$run/stdout" >"$run/stdout.lf"
    if grep -qx 'Waiting for the drive to become ready\.\.\.' "$run/stdout.lf"; then
        note "Quellor waited for the drive to become ready"
    else
        note "the kernel took the spin-up itself"
    fi
    grep -vx 'Waiting for the drive to become ready\.\.\.' "$run/stdout.lf" >"$run/stdout.rest"
    expect_rc "$run" 0
    expect_file "console" "$truth/stdout" "$run/stdout.rest"
    expect_file "$4.wav" "$truth/$4.wav" "$run/$4.wav"
    expect_file "$4.c2" "$truth/$4.c2" "$run/$4.c2"
    [ -s "$run/stderr" ] && note "stderr: $(cat "$run/stderr")"
    rm -f "$run"/*.wav "$run"/*.c2 "$truth"/*.wav "$truth"/*.c2
}

machine() {
    # Drives 4 and 5 share a port: target 2 is made before target 1, so their generic nodes
    # come in the opposite order of their addresses, which Quellor's numbering must follow.
    # (Under wine the empty drive's target also differs from drive 0's: wine reports every
    # loopback host as port 0, so drives are told apart by target there.)
    add_drive 0 01 1 && add_drive 1 02 1 && add_drive 2 03 1 && add_drive 3 04 1 &&
        add_drive 5 05 2 && add_drive 4 05 1 && add_drive 7 06 3 && add_drive 8 07 4
}

test_cases() {
    echo "RIG machine: drives attached at $(uptime_s) s"
    for index in 0 1 2 3 4 5 7 8; do
        echo "RIG machine: drive $index at $(eval echo \$ADDRESS_$index) $(node $index scsi_generic) $(node $index block)"
    done

    # Each C2 form through the generic driver.
    extraction sg.read-cd-14 0 0 RIGREADCD14 root; finish
    extraction sg.read-cd-12 1 1 PLEXTORCD-RPX-RIG12 root; finish
    extraction sg.vendor-d8 2 2 RIGVENDORD8 root; finish
    extraction sg.density-switch 3 3 RIGDENSITYC2 root; finish
    # The loopback fabric's host is a SCSI host: sysfs shows no USB or ATA port above it.
    study sg.study 6 7 RIGSTUDY "$BIN/Quellor" scsi; finish
    manners sg.manners 7 8 RIGMANNERS; finish

    # Two drives on one adapter: numbered by target, not by the order they appeared in.
    extraction two-drives.first 4 4 RIGUNREADABLE root
    [ "$(node 4 scsi_generic)" \> "$(node 5 scsi_generic)" ] ||
        failed "the setup did not give target 1 the later generic node"
    finish
    refusal two-drives.second 5 "No CD found in specified drive!" root; finish

    refusal no-disc 5 "No CD found in specified drive!" root; finish

    # Unreadable sectors: what the kernel hands up, command by command.
    begin unreadable.sense-and-residual
    for device in "$(node 4 scsi_generic)" "$(node 4 block)"; do
        line=$("$BIN/rig_probe" "$device" "$DESC" 4 96 10)
        note "$device READ CD of sectors 96-105: $line"
        case $line in *"verdict=ok"*) ;; *) failed "$device does not deliver what the drive sent" ;; esac
        case $line in *"sense=03/11/00"*) ;; *) failed "$device: no MEDIUM ERROR sense" ;; esac
    done
    finish

    # A user without access to the devices.
    begin no-access
    run=/tmp/run/$case
    quellor "$run" rig "$BIN/Quellor" 0
    expect_rc "$run" 0
    expect_text "console" "${BANNER}Drive number does not exists!

" "$run/stdout"
    for index in 0 1 2 3 4 5; do
        grep -qxF "Cannot open the CD drive $(node $index scsi_generic): Permission denied" \
            "$run/stderr" || failed "stderr does not name $(node $index scsi_generic): $(cat "$run/stderr")"
    done
    finish

    # Without the generic driver only the block nodes remain. Root may send any command
    # through them; other users only the commands the block layer's filter lets through on a
    # read-only open.
    rmmod sg
    extraction sr.read-cd-14 0 0 RIGREADCD14 root; finish
    extraction sr.read-cd-12 1 1 PLEXTORCD-RPX-RIG12 root; finish
    extraction sr.vendor-d8 2 2 RIGVENDORD8 root; finish
    extraction sr.density-switch 3 3 RIGDENSITYC2 root; finish
    chmod 0644 /dev/sr*
    extraction sr.user.read-cd-14 0 0 RIGREADCD14 rig
    grep -qxF "The CD drive $(node 0 block) could be opened for reading only; it may refuse some \
read commands." "$run/stderr" || failed "no read-only notice for $(node 0 block)"
    finish
    # A fresh drive model: the blocked switch must not depend on a mode earlier runs left set.
    restart_handler 3
    refusal sr.user.vendor-d8-blocked 2 "No matching C2 mode found!" rig; finish
    refusal sr.user.density-switch-blocked 3 "No matching C2 mode found!" rig; finish
    insmod /lib/modules/sg.ko

    wine_cases

    # QEMU's own emulated CD-ROM with an ISO: found, its TOC read, and refused.
    while read -r module; do insmod "/lib/modules/$module"; done </lib/modules/late.list
    begin qemu-scsi-cd
    if wait_for 30 grep -q '^QEMU ' /sys/bus/scsi/devices/*/vendor; then
        number=$(cd /sys/bus/scsi/devices && for entry in *:*:*:*; do
                     read -r vendor <"$entry/vendor"
                     [ "$(cat "$entry/type")" = 5 ] && echo "$entry $vendor"
                 done | sort -t: -k1,1n -k2,2n -k3,3n -k4,4n | grep -n ' QEMU$' | cut -d: -f1)
        number=$((number - 1))
        note "QEMU's drive is number $number"
        run=/tmp/run/$case
        quellor "$run" root "$BIN/Quellor" "$number"
        qemu_sg=$(grep -l '^QEMU ' /sys/bus/scsi/devices/*/vendor | head -n 1)
        qemu_sg=/dev/$(ls "${qemu_sg%/vendor}/scsi_generic")
        note "stdout after the banner: $(tail -n +4 "$run/stdout" | tr '\r\n' '|/')"
        note "files: $(cd "$run" && ls -l *.wav *.c2 2>/dev/null | awk '{ printf "%s %s bytes; ", $NF, $5 }')"
        note "READ CD (0x12) of sector 0 through $qemu_sg: \
$("$BIN/rig_probe" "$qemu_sg" "$DESC" 0 0 1 | sed 's/ delivered_matches.*//')"
        expect_rc "$run" 0
        expect_text "console" "${BANNER}No matching C2 mode found!

" "$run/stdout"
        expect_no_outputs "$run"
    else
        failed "QEMU's CD drive did not appear"
    fi
    finish
}

# The 32-bit Windows build under wine: the NT pass-through, which wine turns into SG_IO on the
# block node behind a drive letter, and a manager library, the stand-in WNASPI32.DLL beside
# Quellor.exe serving the description's drives itself.
wine_cases() {
    if [ -z "${RIG_work:-}" ]; then
        echo "RIG wine: no Windows build given"
        return
    fi
    wine_mount || return
    share work $WINE_ROOT/rig/work ro || echo "RIG wine: cannot mount the Windows build"
    wine_prefix "d:=$(node 0 block)" "e:=$(node 5 block)" "f:=$(node 7 block)" \
        "g:=$(node 8 block)"
    wine_start || return
    # chroot starts in its root: the wrapper goes to the run's folder first.
    printf '#!/bin/sh\ncd "$1" && shift && exec wine "$@"\n' >$WINE_ROOT/tmp/wine-in.sh
    wine="chroot $WINE_ROOT $WINE_ENV WINEDLLOVERRIDES=wnaspi32=n /bin/sh /tmp/wine-in.sh"
    # Runs in folders inside the chroot, where wine finds its current folder again.
    RUNS=$WINE_ROOT/tmp/run CRLF=yes
    extraction wine.read-cd-14 0 0 RIGREADCD14 root "$wine /tmp/run/wine.read-cd-14 /rig/work/Quellor.exe"
    finish
    begin wine.no-disc
    run=$RUNS/$case
    quellor "$run" root $wine /tmp/run/wine.no-disc /rig/work/Quellor.exe 1
    expect_rc "$run" 0
    printf '%s' "${BANNER}No CD found in specified drive!

" | sed 's/$/\r/' >/tmp/expected-crlf.txt
    expect_file "console" /tmp/expected-crlf.txt "$run/stdout"
    expect_no_outputs "$run"
    finish
    # The manager's drive 0 is the description's first drive, whatever the kernel has.
    manager="chroot $WINE_ROOT $WINE_ENV WINEDLLOVERRIDES=wnaspi32=n \
SIMDRIVE_DESCRIPTION=/rig/work/rig.drive /bin/sh /tmp/wine-in.sh"
    extraction wine.manager-library 0 0 RIGREADCD14 root \
        "$manager /tmp/run/wine.manager-library /rig/work/manager/Quellor.exe"
    finish
    # wine numbers the drives by target alone: f: (target 3) comes after d: and e:.
    study wine.study 2 7 RIGSTUDY "$wine /tmp/run/wine.study /rig/work/Quellor.exe"; finish
    # A fresh model: the drive spins up and reports its change again for the Windows build.
    restart_handler 8
    manners wine.manners 3 8 RIGMANNERS "$wine /tmp/run/wine.manners /rig/work/Quellor.exe"
    finish
    RUNS=/tmp/run CRLF=no
    wine_stop
}

bench_cases() {
    add_drive 6 01 1 || return
    begin bench
    run=/tmp/run/$case truth=/tmp/truth/$case
    started=$(uptime_s)
    quellor "$run" root "$BIN/Quellor" 0
    ended=$(uptime_s)
    awk "BEGIN { s = $ended - $started; printf \"RIG-BENCH 30000 sectors in %.1f s: %.0f sectors/s through the kernel\n\", s, 30000 / s }"
    mkdir -p "$truth"
    "$BIN/rig_truth" "$DESC" 6 "$truth" RIGBENCH
    expect_file "RIGBENCH.wav" "$truth/RIGBENCH.wav" "$run/RIGBENCH.wav"
    expect_file "RIGBENCH.c2" "$truth/RIGBENCH.c2" "$run/RIGBENCH.c2"
    finish
}

case ${1:-test} in
    test) machine && test_cases ;;
    wine) machine && wine_cases ;;  # the wine cases alone, for work on them
    suite) suite_cases ;;
    bench) bench_cases ;;
esac
