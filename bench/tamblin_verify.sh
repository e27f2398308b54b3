#!/bin/bash
# Writes the reference image with Tamblin (the fast path) and checks every byte of it against the
# exact frame-by-frame computation, on two threads (about 6 minutes on two free cores).
#   tamblin_verify.sh <path to Tamblin> <path to tamblin_verify> [work directory]
# Prints the differing bytes (0 expected), the frames the fast path recomputed exactly and the
# largest difference between the fast and the exact mix; exits non-zero on any difference.
set -euo pipefail

tamblin=$(realpath "${1:?usage: tamblin_verify.sh <Tamblin> <tamblin_verify> [work directory]}")
verify=$(realpath "${2:?usage: tamblin_verify.sh <Tamblin> <tamblin_verify> [work directory]}")
work=${3:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"

echo "writing Reference.wav with Tamblin in $work"
"$tamblin" > console.txt
echo "checking it against the exact computation"
start=$(date +%s.%N)
"$verify" Reference.wav 2
end=$(date +%s.%N)
echo "check took $(printf '%.0f' "$(echo "$end - $start" | bc -l)") s"
