#!/usr/bin/env bash
# Checks that every folder of src/ includes only itself and the folders below
# it. The layers, from the top down:
#   driver, results, plot, scans, fit, models, console, state
# (the data cleaning of scans/ solves normal equations of fit/, so the fit
# sits below the scan input). Prints each include that runs upwards and fails
# when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src"
layers=(state console models fit scans plot results driver)
rank() { local i; for i in "${!layers[@]}"; do [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }; done; echo -1; }
bad=0
for dir in "${layers[@]}"; do
  own=$(rank "$dir")
  while IFS=: read -r file _ include; do
    target=${include#*\"}; target=${target%%/*}
    r=$(rank "$target")
    if (( r < 0 || r > own )); then
      echo "$file: $include runs upwards ($dir may include only the folders below it)"
      bad=1
    fi
  done < <(grep -rn '^#include "[a-z_]*/' "$dir" || true)
done
exit $bad
