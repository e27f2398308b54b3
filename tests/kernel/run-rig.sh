#!/usr/bin/env bash
# run-rig.sh test|bench|wine <work folder> <Quellor> <simdrive_tcmu> <rig_truth> <rig_probe> [Quellor.exe]
# Boots the stock Debian kernel under QEMU with an initramfs made here and now, runs the
# guest's cases (tests/kernel/guest/cases.sh) in one boot, and leaves the serial console in
# <work folder>/console.log, where check-case.sh finds each case's result.
# MARROWBY_KERNEL_CACHE: where the kernel package is kept (default ~/.cache/marrowby-kernel).
# MARROWBY_RIG_ACCEL: kvm or tcg (default: kvm when /dev/kvm can be used, else tcg).
set -euo pipefail
mode=$1 work=$2
shift 2
programs=("$1" "$2" "$3" "$4")
windows_exe=${5:-}
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

if [[ $mode != bench && -n $windows_exe ]]; then
    if [[ ! -f $windows_exe ]]; then
        echo "run-rig.sh: no $windows_exe: build the windows preset first" >&2
        exit 1
    fi
    cp "$windows_exe" "$work/Quellor.exe"
    append+=" rig.work=1"
    # MARROWBY_RIG_WINEDEBUG: wine's debug channels in the guest (default: none).
    [[ -n ${MARROWBY_RIG_WINEDEBUG:-} ]] && append+=" rig.winedebug=$MARROWBY_RIG_WINEDEBUG"
    for share in usr etc; do
        qemu+=(-virtfs "local,path=/$share,mount_tag=$share,security_model=none,readonly=on")
    done
    qemu+=(-virtfs "local,path=$work,mount_tag=work,security_model=none,readonly=on")
fi

accel=${MARROWBY_RIG_ACCEL:-}
if [[ -z $accel ]]; then
    accel=tcg
    [[ -r /dev/kvm && -w /dev/kvm ]] && accel=kvm
fi
echo "run-rig.sh: booting $version with $accel" >&2
started=$SECONDS
timeout 900 qemu-system-x86_64 -accel "$accel" "${qemu[@]}" -append "$append" \
    </dev/null >"$log" 2>&1 || true
echo "run-rig.sh: the guest ran for $((SECONDS - started)) s" >&2
grep -a '^RIG' "$log" | tr -d '\r' >&2 || true
if ! grep -aq '^RIG-END' "$log"; then
    echo "run-rig.sh: the guest did not finish; the end of its console:" >&2
    tail -n 40 "$log" >&2
    exit 1
fi
