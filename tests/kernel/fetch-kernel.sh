#!/usr/bin/env bash
# fetch-kernel.sh <cache folder>: the stock Debian kernel that linux-image-amd64 depends on,
# unpacked without running its install scripts, with the modules.dep the package leaves out.
# Kept in the cache folder between runs. Prints "<kernel root> <version>".
set -euo pipefail
cache=$1
mkdir -p "$cache"
cd "$cache"

package=$(apt-cache depends linux-image-amd64 2>/dev/null |
          sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n 1 || true)
if [[ -z $package ]]; then
    # No package lists (offline): whatever kernel an earlier run left here.
    package=$(ls -d root-linux-image-* 2>/dev/null | sed 's/^root-//' | sort -V | tail -n 1 || true)
fi
if [[ -z $package ]]; then
    echo "fetch-kernel.sh: cannot tell which kernel linux-image-amd64 depends on" >&2
    exit 1
fi
version=${package#linux-image-}
root=$cache/root-$package
if [[ ! -f $root/lib/modules/$version/modules.dep ]]; then
    rm -rf "$root" "$package"_*.deb
    for attempt in 1 2 3; do
        apt-get download "$package" >&2 && break
        if ((attempt == 3)); then
            echo "fetch-kernel.sh: could not download $package in three attempts" >&2
            exit 1
        fi
        echo "fetch-kernel.sh: the download failed (attempt $attempt); trying again in 30 s" >&2
        sleep 30
    done
    mkdir -p "$root.partial"
    dpkg-deb -x "$package"_*.deb "$root.partial"
    depmod -b "$root.partial" "$version"
    mv "$root.partial" "$root"
    rm -f "$package"_*.deb
fi
echo "$root $version"
