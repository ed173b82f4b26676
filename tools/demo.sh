#!/usr/bin/env bash
# A scripted run of the program through a pipe, the way batch use works: the
# answers below go to standard input, one answer per line with its comment;
# the transcript comes back on standard output and is kept in
# $build/demo/transcript.txt, every picture shown in $build/demo/png/: the
# series while the range is picked, the start-value marks, the fit and the
# data with the fitted curves and residuals. The results of the fit are also
# written for other programs: $build/demo/results.jsonl (one JSON object per
# fit) and $build/demo/curves/ (one CSV file per fitted scan).
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/$build/src/driver/svfit"
out="$root/$build/demo"
rm -rf "$out"
mkdir -p "$out/png"

answers=""
key() { answers+="$1"; }  # one key, or a line with its Enter

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
  # Radial range in the viewer: "=" moves the crosshair to a typed radius
  # (the nearest of the 911 pixel columns, 0.0014 cm apart), then a key takes it.
  key $'=6.05\n'; key 'M'   # meniscus at 6.05 cm
  key $'=6.1\n'; key 'A'    # start radius for fitting
  key $'=7.1\n'; key 'E'    # end radius (and bottom): with all three marked, picking ends
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
  # Start values in the viewer: "=" takes a sedimentation coefficient and
  # puts the crosshair where that s stands in the last scan (10880 s at 50000
  # rpm, from the meniscus at 6.05 cm), on the data.
  key $'=4.4\n'; key '1'    # S1: the slow boundary, 4.4 S at 6.90 cm
  key $'=5.3\n'; key '2'    # S2: the fast one has reached the bottom; 6.8 S would lie
                            # beyond the plot (refused), 5.3 S is at 7.09 cm
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
printf '%s' "$answers" |
  "$program" --png "$out/png" --results "$out/results.jsonl" --curves "$out/curves" |
  tee "$out/transcript.txt"
if grep -q 'Svedberg coeff' "$out/transcript.txt"; then
  # The sample run was simulated with 4.4 S and 6.8 S (data/sample/README.md).
  echo
  echo "fitted sedimentation coefficients (simulated: 4.4 S and 6.8 S):"
  grep -E '^(2\.)?Svedberg coeff' "$out/transcript.txt" | sed 's/^/  /'
fi
echo "transcript: $out/transcript.txt, pictures: $out/png/"
[[ -f "$out/results.jsonl" ]] && echo "results: $out/results.jsonl, curves: $out/curves/"
true
