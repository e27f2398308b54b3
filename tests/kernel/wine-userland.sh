#!/usr/bin/env bash
# wine-userland.sh <cache folder>: prints the root of a Debian userland with wine and its 32-bit
# part, in which the rig's guest runs the Windows programs. Made once with mmdebstrap from the
# host's configured Debian mirror (its main suite only, so every package version agrees) and
# kept under the cache folder; made anew when the package list or the recipe changes.
# The host's kernel need not run 32-bit programs and the host gets no i386 package: the root is
# amd64 with i386 added, whose maintainer scripts run on the host.
set -euo pipefail
cache=$1
packages=(wine wine32:i386)
recipe=1  # raise when the steps below change what the root holds

. /etc/os-release
suite=$VERSION_CODENAME
mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE)' |
             awk -v suite="$suite" '$2 == suite { print $1; exit }')
if [[ -z $mirror ]]; then
    echo "wine-userland.sh: no Debian mirror for $suite in the host's apt sources" >&2
    exit 1
fi

key=$(printf '%s\n' "$recipe" "$suite" "$mirror" "${packages[@]}" | sha256sum | cut -c1-16)
root=$cache/root-$key
if [[ -f $root/.marrowby-complete ]]; then
    echo "$root"
    exit 0
fi

mkdir -p "$cache"
rm -rf "$root" "$root.partial"
started=$SECONDS
for attempt in 1 2 3; do
    # A mirror in the middle of a sync serves an index or a package that does not match its
    # release file for a while; a later attempt usually gets a consistent set.
    if mmdebstrap --quiet --variant=essential --architectures=amd64,i386 \
        --aptopt='APT::Install-Recommends "false"' --include="$(IFS=,; echo "${packages[*]}")" \
        "$suite" "$root.partial" "$mirror" >&2; then
        break
    fi
    rm -rf "$root.partial"
    if ((attempt == 3)); then
        echo "wine-userland.sh: mmdebstrap could not install ${packages[*]} from $mirror" \
            "($suite) in three attempts" >&2
        exit 1
    fi
    echo "wine-userland.sh: mmdebstrap failed (attempt $attempt); trying again in 60 s" >&2
    sleep 60
done
# Only wine runs here: the package caches and documentation are dead weight for the 9p share.
rm -rf "$root.partial"/var/cache/apt/* "$root.partial"/var/lib/apt/lists/* \
    "$root.partial"/usr/share/doc "$root.partial"/usr/share/man
# Where the guest mounts the Windows build and the suite's results.
mkdir -p "$root.partial/rig/work" "$root.partial/rig/results"
mv "$root.partial" "$root"
echo "made in $((SECONDS - started)) s from $mirror $suite: ${packages[*]}" >"$root/.marrowby-complete"
echo "wine-userland.sh: made $root in $((SECONDS - started)) s" >&2
# Older roots of other recipes only fill the disk.
for old in "$cache"/root-*; do
    [[ $old == "$root" ]] || rm -rf "$old"
done
echo "$root"
