#!/usr/bin/env bash
# run-rig.sh test|bench|wine <work folder> <Quellor> <simdrive_tcmu> <rig_truth> <rig_probe>
#            [<Windows build folder>]
# run-rig.sh suite <work folder> <results folder> <source folder> <Windows build folder>
# Boots the stock Debian kernel under QEMU with an initramfs made here and now, runs the
# guest's cases (tests/kernel/guest/cases.sh) in one boot, and leaves the serial console in
# <work folder>/console.log, where check-case.sh finds each case's result. The suite mode runs
# the Windows build's whole test suite instead (tests/kernel/windows-suite.sh).
# MARROWBY_KERNEL_CACHE: where the kernel package is kept (default ~/.cache/marrowby-kernel).
# MARROWBY_WINE_CACHE: where the guest's wine userland is kept (default ~/.cache/marrowby-wine).
# MARROWBY_RIG_ACCEL: tcg (the default) or kvm.
set -euo pipefail
mode=$1 work=$2
shift 2
if [[ $mode == suite ]]; then
    results=$1 source=$2 windows_build=$3
    programs=()
else
    programs=("$1" "$2" "$3" "$4")
    windows_build=${5:-}
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
work=$(cd "$work" && pwd)
log=$work/console.log
rm -f "$log"

read -r kroot version < <("$here/fetch-kernel.sh" "${MARROWBY_KERNEL_CACHE:-$HOME/.cache/marrowby-kernel}")
"$here/build-initramfs.sh" "$kroot" "$version" "$work/initramfs" "$work/initramfs.cpio" \
    "${programs[@]}"

# A small ISO for QEMU's own CD drive.
rm -rf "$work/iso" "$work/small.iso"
mkdir -p "$work/iso"
echo "A data disc for QEMU's emulated CD drive." >"$work/iso/README.TXT"
head -c 300000 /dev/zero >"$work/iso/ZEROS.BIN"
xorriso -as mkisofs -quiet -V RIGDISC -o "$work/small.iso" "$work/iso" 2>/dev/null

# no_timer_check: on a busy host the emulated timer can look broken at boot, which panics.
append="console=ttyS0 panic=-1 loglevel=1 no_timer_check rig.mode=$mode"
qemu=(-m 1536 -smp 2 -nographic -no-reboot -monitor none
      -kernel "$kroot/boot/vmlinuz-$version" -initrd "$work/initramfs.cpio"
      -device virtio-scsi-pci,id=scsi0
      -drive if=none,id=qemucd,file="$work/small.iso",media=cdrom,format=raw,readonly=on
      -device scsi-cd,bus=scsi0.0,drive=qemucd)

share() {  # <tag> <host folder> ro|rw
    local readonly=on
    [[ $3 == rw ]] && readonly=off
    qemu+=(-virtfs "local,path=$2,mount_tag=$1,security_model=none,readonly=$readonly")
}
if [[ $mode != bench && -n $windows_build ]]; then
    if [[ ! -f $windows_build/bin/Quellor.exe ]]; then
        echo "run-rig.sh: no $windows_build/bin/Quellor.exe: build the windows preset first" >&2
        exit 1
    fi
    root=$("$here/wine-userland.sh" "${MARROWBY_WINE_CACHE:-$HOME/.cache/marrowby-wine}")
    share userland "$root" ro
    # MARROWBY_RIG_WINEDEBUG: wine's debug channels in the guest (default: none).
    [[ -n ${MARROWBY_RIG_WINEDEBUG:-} ]] && append+=" rig.winedebug=$MARROWBY_RIG_WINEDEBUG"
fi
if [[ $mode == suite ]]; then
    # The tests know their files by the host's paths, so the guest mounts both trees there.
    windows_build=$(cd "$windows_build" && pwd) source=$(cd "$source" && pwd)
    mkdir -p "$root$source" "$root$windows_build"
    share source "$source" ro
    share binary "$windows_build" ro
    share results "$results" rw
    # A test may write a whole reference image (783 MB) into the guest's memory.
    qemu[1]=4096
    append+=" rig.source=$source rig.binary=$windows_build"
elif [[ $mode != bench && -n $windows_build ]]; then
    mkdir -p "$work/share/manager"
    cp "$windows_build/bin/Quellor.exe" "$here/guest/rig.drive" "$work/share/"
    cp "$windows_build/bin/Quellor.exe" "$windows_build/standin/aspi-only/WNASPI32.DLL" \
        "$work/share/manager/"
    share work "$work/share" ro
    append+=" rig.work=1"
fi

# TCG unless asked otherwise: some build machines offer a /dev/kvm on which the guest hangs
# before its kernel prints a line (seen with nested virtualisation), which TCG never does.
accel=${MARROWBY_RIG_ACCEL:-tcg}
echo "run-rig.sh: booting $version with $accel" >&2
started=$SECONDS
# MARROWBY_RIG_LIMIT: seconds the guest may run (default 900; the suite 2,400).
limit=${MARROWBY_RIG_LIMIT:-900}
[[ $mode == suite ]] && limit=${MARROWBY_RIG_LIMIT:-2400}
timeout "$limit" qemu-system-x86_64 -accel "$accel" "${qemu[@]}" -append "$append" \
    </dev/null >"$log" 2>&1 || true
echo "run-rig.sh: the guest ran for $((SECONDS - started)) s" >&2
grep -a '^RIG' "$log" | tr -d '\r' >&2 || true
if ! grep -aq '^RIG-END' "$log"; then
    echo "run-rig.sh: the guest did not finish; the end of its console:" >&2
    tail -n 40 "$log" >&2
    exit 1
fi
