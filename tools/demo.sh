#!/usr/bin/env bash
# A scripted run of the program through a pipe, the way batch use works:
# the answers below go to standard input, the transcript comes back on
# standard output. For now the run goes from the run options straight to the
# option menu and finishes there.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/data/sample"
[[ -d "$dir" ]] || dir="$root"
cd "$dir"
# Enter: new absorbance files; Enter: no interpolation; Enter: no 3000 rpm
# file; S: load simultaneously; Enter: correct outliers; Enter: no last bottom
# point; N: no distribution; E at the option menu and F to confirm.
printf '\r\r\rS\r\rNEF' | "$root/$build/src/driver/app/svfit"
