#!/usr/bin/env bash
# A scripted run of the program through a pipe, the way batch use works:
# the answers below go to standard input, the transcript comes back on
# standard output.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/$build/src/driver/app/svfit"
# Run options: Enter (new absorbance files), Enter (no interpolation), Enter
# (no 3000 rpm file), S (load simultaneously), Enter (correct outliers),
# Enter (no last bottom point).
options=$'\r\r\rS\r\r'
if [[ -d "$root/data/sample/abs" ]]; then
  cd "$root/data/sample"
  # Directory abs, cell 2, first file and every file by default, start file
  # confirmed; E ends the loading at the end of the series; N: no
  # distribution; set-up: default end radius and slit speed, 0 iterations
  # (show the data without a fit); E and F at the option menu finish.
  printf '%s' "${options}abs"$'\n2\n\n\n\nEN\n\n0\nEF' | "$program"
else
  # No sample runs: the dialogue up to the device prompt, where Z ends it.
  printf '%s' "${options}Z"$'\n' | "$program"
fi
