#!/usr/bin/env bash
# A scripted run of the program through a pipe, the way batch use works: the
# answers below go to standard input, one answer per line with its comment;
# the transcript comes back on standard output and is kept in
# $build/demo/transcript.txt, every picture shown in $build/demo/png/.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/$build/src/driver/app/svfit"
out="$root/$build/demo"
rm -rf "$out"
mkdir -p "$out/png"

answers=""
key() { answers+="$1"; }  # one key, or a line with its Enter
# n times the same key (cursor keys for the crosshair).
keys() {
  local i
  for ((i = 0; i < $2; i++)); do answers+="$1"; done
}
left=$'\e[D' right=$'\e[C'                       # crosshair one pixel
shift_left=$'\e[1;2D' shift_right=$'\e[1;2C'     # crosshair 15 pixels

# Run options.
key $'\r'          # new absorbance files (Enter = N)
key $'\r'          # no interpolation of missing points
key $'\r'          # no 3000 rpm file
key 'S'            # load all files simultaneously
key $'\r'          # correct outliers (Enter = yes)
key $'\r'          # no last bottom point

if [[ -d "$root/data/sample/abs" ]]; then
  cd "$root/data/sample"
  # Files.
  key $'abs\n'     # the run directory
  key $'2\n'       # cell 2
  key $'\n'        # start with the first file
  key $'\n'        # every file
  key $'\n'        # the start file is the right one
  key 'E'          # end of loading at the end of the series
  # Radial range in the viewer. The series spans 5.95 to 7.249 cm over the
  # 911 pixels of the plot (0.001426 cm per pixel); the crosshair starts at
  # pixel 350 (6.2894 cm).
  keys "$shift_left" 11; keys "$left" 3    # 168 pixels left: 6.0498 cm
  key 'M'                                  # meniscus
  keys "$shift_right" 2; keys "$right" 5   # 35 pixels right: 6.0997 cm
  key 'A'                                  # start radius for fitting
  keys "$shift_right" 46; keys "$right" 11 # 701 pixels right: 7.0993 cm
  key 'E'          # end radius (and bottom): with all three marked, picking ends
  # After loading.
  key 'N'          # no sedimentation coefficient distribution
  key $'\n'        # no new common end radius
  key $'\n'        # default slit speed
  key $'0\n'       # 0 iterations: the data without a fit
  key 'E'          # option menu: end
  key 'F'          # really finish
else
  # No sample runs: the dialogue up to the device prompt, where Z ends it.
  key $'Z\n'
fi
printf '%s' "$answers" | "$program" --png "$out/png" | tee "$out/transcript.txt"
echo "transcript: $out/transcript.txt, pictures: $out/png/"
