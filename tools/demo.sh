#!/usr/bin/env bash
# A scripted run of the program on the bundled sample data.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/data/sample"
printf '\r\r\r\r\r\r' | "$root/$build/src/driver/app/svfit" || true
