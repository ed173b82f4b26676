#!/usr/bin/env bash
# Regenerates the sample runs in data/sample/ with svfit-sim. The seeds fix
# every random number, so the files come out byte for byte the same.
#   usage: tools/sim/make_sample.sh [build-dir]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build}
sim="$root/$build/tools/sim/svfit-sim"
if [[ ! -x "$sim" ]]; then
  echo "make_sample.sh: $sim not found; build first (make build)" >&2
  exit 1
fi
out="$root/data/sample"

# abs: absorbance, cell 2, two species (66 and 132 kDa), 0.004 OD noise,
# slit 40 s/cm, 4 min acceleration, 30 scans every 6 min.
"$sim" --absorbance --cell 2 --title "svfit-sim 4.4S+6.8S 0.8OD" \
  --component s=4.4,M=66000,c=0.6 --component s=6.8,M=132000,c=0.2 \
  --vbar 0.73 --density 1.0 --temperature 20 --rpm 50000 --accel-time 240 \
  --meniscus 6.05 --bottom 7.2 --r-start 5.95 --r-end 7.25 --step 0.003 \
  --first 600 --interval 360 --scans 30 --slit-time 40 \
  --noise 0.004 --baseline 0.01 --ceiling 3.0 --wavelength 280 \
  --seed 20240501 --out "$out/abs" --force

# ip: interference, cell 4, one species (66 kDa), 3 fringes, TI and RI noise,
# 0.005 fringes point noise, 16 scans every 11 min.
"$sim" --interference --cell 4 --title "Sample" \
  --component s=4.4,M=66000,c=3.0 \
  --vbar 0.73 --density 1.0 --temperature 20 --rpm 50000 --accel-time 240 \
  --meniscus 6.12 --bottom 7.2 --r-start 6.0 --r-end 7.22 \
  --first 600 --interval 660 --scans 16 \
  --noise 0.005 --ti-noise 0.02 --ri-noise 0.1 --ceiling 12 --wavelength 675 \
  --seed 20240502 --out "$out/ip" --force
