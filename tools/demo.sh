#!/usr/bin/env bash
# A scripted run of the program through a pipe, the way batch use works: the
# answers below go to standard input, one answer per line with its comment;
# the transcript comes back on standard output and is kept in
# $build/demo/transcript.txt, every picture shown in $build/demo/png/: the
# series while the range is picked, the start-value marks, the fit and the
# data with the fitted curves and residuals.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/$build/src/driver/svfit"
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
  key $'\n'        # the last data set to fit: the last file
  key $'\n'        # the first data set to fit: the first file
  key 'N'          # no sedimentation coefficient distribution
  # Fit set-up.
  key $'\n'        # no new common end radius
  key $'\n'        # default slit speed
  key $'\n'        # at most 200 iterations
  key $'\n'        # starting damping 5
  key $'\n'        # partial specific volume 0.736 ml/g
  key $'\n'        # density 1.0 g/ml
  key $'\n'        # viscosity: water at the run temperature
  key 'N'          # no RI noise elimination (absorbance data: no TI question)
  key 'C'          # model C: Faxen type with the meniscus boundary
  # Start values in the viewer: the crosshair on the boundaries of the last
  # scan (10880 s at 50000 rpm). The plot now spans the kept points, 6.05 to
  # 7.10 cm (0.00115 cm per pixel); the crosshair starts at 6.3255 cm.
  keys "$shift_right" 32; keys "$right" 10 # 490 pixels right: 6.890 cm
  key '1'          # S1 there: 4.35 S from the meniscus at 6.0498 cm
  keys "$shift_right" 11                   # 165 pixels right: 7.078 cm
  key '2'          # S2: the faster boundary has reached the bottom; 5.26 S
  key $'\n'        # picking done: two components
  key $'\n'        # partial specific volume of component 1
  key $'\n'        # and of component 2
  key $'0\n'       # no parameter fixed: all eight are fitted
  # The fit draws its curves and status line; then its picture in the viewer.
  key $'\e'        # leave the viewer
  # Results.
  key $'\n'        # density kept
  key $'\n'        # viscosity kept
  key $'\n'        # partial specific volume 1 kept
  key $'\n'        # partial specific volume 2 kept
  key ' '          # the report: its second page
  key $'\n'        # the report read
  key $'\e'        # data, fitted curves and residuals in the viewer: leave it
  key 'E'          # option menu: end
  key 'F'          # really finish
else
  # No sample runs: the dialogue up to the device prompt, where Z ends it.
  key $'Z\n'
fi
printf '%s' "$answers" | "$program" --png "$out/png" | tee "$out/transcript.txt"
if grep -q 'Svedberg coeff' "$out/transcript.txt"; then
  # The sample run was simulated with 4.4 S and 6.8 S (data/sample/README.md).
  echo
  echo "fitted sedimentation coefficients (simulated: 4.4 S and 6.8 S):"
  grep -E '^(2\.)?Svedberg coeff' "$out/transcript.txt" | sed 's/^/  /'
fi
echo "transcript: $out/transcript.txt, pictures: $out/png/"
