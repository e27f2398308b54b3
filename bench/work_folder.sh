# Sourced by the bench scripts: their arguments <build directory> <Reference.wav> [work
# directory] as absolute paths in $build and $reference, and the work folder made and entered.
usage="usage: $(basename "$0") <build directory> <Reference.wav> [work directory]"
build=$(realpath "${1:?$usage}")
reference=$(realpath "${2:?$usage}")
work=${3:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
