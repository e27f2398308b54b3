# Sourced by cases.sh: the 32-bit Windows programs under wine, run from the rig's own Debian
# userland (tests/kernel/wine-userland.sh), which the host shares read-only as 9p tag
# "userland" and the guest enters with chroot.
WINE_ROOT=/wine
# A bare prefix made at each boot: wine's full set-up takes minutes under TCG. "disable" spares
# it; system32 links to wine's builtin DLLs.
WINE_ENV="/usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp WINEPREFIX=/tmp/prefix \
WINEDEBUG=${RIG_winedebug:--all}"
WINE_DLLS=/usr/lib/i386-linux-gnu/wine/i386-windows

share() {  # <9p tag> <mount point> ro|rw
    # The host made the mount point in the userland, unless it lies below a folder the guest
    # mounts afresh (a tree in /tmp): there it is made here.
    mkdir -p "$2" 2>/dev/null
    # cache=loose roughly halves every wine start; a written share is not cached, so nothing
    # waits in the guest's page cache when the machine powers off.
    cache=loose
    [ "$3" = rw ] && cache=none
    mount -t 9p -o "trans=virtio,version=9p2000.L,$3,cache=$cache,msize=512000" "$1" "$2"
}

wine_mount() {  # the userland at $WINE_ROOT with a writable /tmp and the kernel's file systems
    mkdir -p $WINE_ROOT
    if ! share userland $WINE_ROOT ro; then
        echo "RIG wine: cannot mount the wine userland"
        return 1
    fi
    mount -t tmpfs tmpfs $WINE_ROOT/tmp
    mount -o bind /dev $WINE_ROOT/dev
    mount -t proc proc $WINE_ROOT/proc
    mount -t sysfs sysfs $WINE_ROOT/sys
}

wine_prefix() {  # <letter>=<block node>...: CD drive letters, each a link to its block node
    prefix=$WINE_ROOT/tmp/prefix
    mkdir -p $prefix/dosdevices $prefix/drive_c/windows/system32/drivers $prefix/drive_c/temp
    echo disable >$prefix/.update-timestamp
    {
        printf 'WINE REGISTRY Version 2\n\n[Software\\\\Wine\\\\Drives]\n'
        for drive in "$@"; do printf '"%s"="cdrom"\n' "${drive%%=*}"; done
        # The mount manager (a driver that services.exe starts through winedevice.exe) tells
        # programs what kind of drive a letter is.
        cat <<'REGISTRY'

[System\\CurrentControlSet\\Services\\MountMgr]
"DisplayName"="Mount Manager"
"ErrorControl"=dword:00000001
"Group"="System Bus Extender"
"ImagePath"="C:\\windows\\system32\\drivers\\mountmgr.sys"
"Start"=dword:00000002
"Type"=dword:00000001
REGISTRY
    } >$prefix/system.reg
    # The null display driver: a message box is shown, read and dismissed without a screen.
    cat >$prefix/user.reg <<'REGISTRY'
WINE REGISTRY Version 2

[Environment]
"TEMP"="C:\\temp"
"TMP"="C:\\temp"

[Software\\Wine\\Drivers]
"Graphics"="null"
REGISTRY
    ln -s $WINE_DLLS/mountmgr.sys $prefix/drive_c/windows/system32/drivers/
    for dll in $WINE_ROOT$WINE_DLLS/*; do
        ln -s "${dll#$WINE_ROOT}" $prefix/drive_c/windows/system32/
    done
    ln -sfn ../drive_c $prefix/dosdevices/c:
    ln -sfn / $prefix/dosdevices/z:
    mkdir -p $WINE_ROOT/tmp/cd
    for drive in "$@"; do
        ln -sfn /tmp/cd "$prefix/dosdevices/${drive%%=*}"
        ln -sfn "${drive#*=}" "$prefix/dosdevices/${drive%%=*}:"
    done
}

wine_start() {  # one server for every run, and the services up before the first run
    chroot $WINE_ROOT $WINE_ENV wineserver -p
    started=$(uptime_s)
    chroot $WINE_ROOT $WINE_ENV wine wineboot.exe >/tmp/wineboot.log 2>&1
    # A program started alongside the services may look at the drive letters before the mount
    # manager, which runs in winedevice.exe, knows them.
    if ! wait_for 300 sh -c 'grep -q winedevic[e] /proc/[0-9]*/cmdline'; then
        echo "RIG wine: wine did not start its services: $(tail -n 5 /tmp/wineboot.log | tr '\n' '/')"
        return 1
    fi
    sleep 5
    echo "RIG wine: services up in $(awk "BEGIN { print $(uptime_s) - $started }") s"
}

wine_stop() {
    chroot $WINE_ROOT $WINE_ENV wineserver -k
}
