#!/usr/bin/env bash
# A fresh `cmake --install` of a build tree into an empty prefix must hold the programs,
# their manual pages and the documents, nothing else; and the installed programs alone must run
# the demo's disc to its verdict.
#   installed_demo.sh <build tree> <source tree>
set -euo pipefail
build=$1 source=$2
work=$build/installed_demo
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" > "$work/install.log"

# c2pool is built where SQLite is installed.
programs=(Quellor Tamblin c2report)
[[ -x $build/bin/c2pool ]] && programs+=(c2pool)
expected=$( (
    printf 'bin/%s\n' "${programs[@]}"
    printf 'share/man/man1/%s.1.gz\n' "${programs[@]}"
    printf 'share/doc/marrowby/%s\n' LICENSE README.md
) | LC_ALL=C sort)
installed=$(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
if [[ $installed != "$expected" ]]; then
    echo "installed files differ from the expected ones:" >&2
    diff <(echo "$expected") <(echo "$installed") >&2 || true
    exit 1
fi
if command -v man > /dev/null; then
    for page in "${programs[@]}"; do
        [[ $(MANPATH=$prefix/share/man man -w "$page") == "$prefix/share/man/man1/$page.1.gz" ]]
    done
fi

# The installed programs, not the build tree's: the demo gets a tree holding only the simulated
# drive's stand-in library.
mkdir -p "$work/tree/standin" "$work/tree/bin"
cp -r "$build/standin/both" "$work/tree/standin/"
if [[ -x $build/bin/c2pool ]]; then
    cp "$build/bin/c2pool_examples" "$work/tree/bin/"
fi
"$source/demo/run.sh" --prefix "$prefix" --build "$work/tree" --out "$work/demo" > "$work/demo.log" 2>&1 || {
    cat "$work/demo.log" >&2
    exit 1
}
cd "$work/demo"
echo "058e838a14c24686f556042d9eb6f5ac50476c75fdce8265c94b80d5ceb30310  Reference.wav" |
    sha256sum --check --quiet
grep -q "% Done" "$work/demo.log"
# Each drive read left its audio, its pointers and its verdict.
drives=(*.c2)
[[ -e ${drives[0]} ]] || { echo "the demo read no drive" >&2; exit 1; }
for c2 in "${drives[@]}"; do
    files=("${c2%.c2}"{.wav,.report.csv,.report.svg,.report.json,.report.html})
    # A study's passes (<drive>.<form>.<speed>.c2) are judged together, from the study file.
    [[ ${c2%.c2} == *.* ]] && files+=("${c2%%.*}".study.{json,html})
    for file in "${files[@]}"; do
        [[ -s $file ]] || { echo "the demo left no $file" >&2; exit 1; }
    done
done
grep -q "^Passes ranked" "$work/demo.log" || { echo "the demo printed no study table" >&2; exit 1; }
grep -q "^Study page: *SIMDRIVESTUDY.study.html$" "$work/demo.log" ||
    { echo "the demo named no study page" >&2; exit 1; }
# The study's submission went into the pool beside the generated ones, and the site was made.
if [[ -x $build/bin/c2pool ]]; then
    grep -q "^37 accepted, 0 already in the pool, 0 refused.$" "$work/demo.log" ||
        { echo "the demo's pool did not take the 37 submissions" >&2; exit 1; }
    [[ -s pool-site/index.html && -s pool-site/pool.json ]] ||
        { echo "the demo wrote no pool site" >&2; exit 1; }
fi
echo "demo with the installed programs:"
tail -n 40 "$work/demo.log"
