#!/usr/bin/env bash
# build-initramfs.sh <kernel root> <version> <staging folder> <output> <program>...:
# a small initramfs: busybox, the modules the rig loads (with their dependencies, in load
# order), the given programs with the shared libraries they need, and the guest scripts.
set -euo pipefail
kroot=$1 version=$2 stage=$3 output=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
moddir=$kroot/lib/modules/$version

rm -rf "$stage"
mkdir -p "$stage"/{bin,dev,proc,sys,tmp,etc,mnt,rig/bin,lib/modules}

cp /bin/busybox "$stage/bin/busybox"
for applet in $(busybox --list); do
    # The list names busybox itself; a link onto itself would replace the binary.
    [[ $applet == busybox ]] || ln -sf busybox "$stage/bin/$applet"
done

# Loaded at boot, in this order after their dependencies. virtio_scsi is only staged: loading it
# brings QEMU's own CD drive, which one case adds late.
boot_modules=(virtio virtio_ring virtio_pci scsi_common scsi_mod cdrom sr_mod sg configfs
              crc-t10dif target_core_mod uio target_core_user tcm_loop 9pnet 9pnet_virtio 9p)
late_modules=(virtio_scsi)
declare -A placed=()
order=()
dependencies() {  # the modules.dep line of one module name
    grep -E "(^|/)$1\.ko(\.[a-z]+)?:" "$moddir/modules.dep" || {
        echo "build-initramfs.sh: no module $1 in $moddir" >&2
        exit 1
    }
}
place() {
    local name=$1 line path dep
    line=$(dependencies "$name")
    path=${line%%:*}
    [[ -n ${placed[$path]:-} ]] && return
    for dep in ${line#*:}; do
        dep=$(basename "$dep")
        place "${dep%%.ko*}"
    done
    placed[$path]=1
    cp "$moddir/$path" "$stage/lib/modules/"
    order+=("$(basename "$path")")
}
for module in "${boot_modules[@]}"; do place "$module"; done
printf '%s\n' "${order[@]}" >"$stage/lib/modules/boot.list"
order=()
for module in "${late_modules[@]}"; do place "$module"; done
printf '%s\n' "${order[@]}" >"$stage/lib/modules/late.list"

for program in "$@"; do
    cp "$program" "$stage/rig/bin/"
    for library in $(ldd "$program" | grep -o '/[^ ]*'); do
        mkdir -p "$stage$(dirname "$library")"
        cp -L "$library" "$stage$library"
    done
done

cp "$here/guest/init" "$stage/init"
cp "$here/guest/cases.sh" "$here/guest/wine.sh" "$here/guest/windows_suite.sh" "$here/guest/rig.drive" \
    "$stage/rig/"
chmod +x "$stage/init"
printf 'root:x:0:0:root:/root:/bin/sh\nrig:x:1000:1000:rig:/tmp:/bin/sh\n' >"$stage/etc/passwd"
printf 'root:x:0:\nrig:x:1000:\n' >"$stage/etc/group"

(cd "$stage" && find . | cpio -o -H newc --quiet) >"$output"
