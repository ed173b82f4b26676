#!/usr/bin/env bash
# Installs the Debian packages that svfit needs to build, test and run, when
# they are missing. Idempotent and quiet when everything is there.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libncurses-dev libsdl2-dev libcairo2-dev libfreetype-dev libfontconfig-dev
  fonts-liberation fonts-dejavu-core
  xvfb xauth poppler-utils
  nlohmann-json3-dev man-db
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "svfit setup: these Debian packages are missing: ${missing[*]}" >&2
  echo "svfit setup: run 'make setup' as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi

echo "svfit setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/svfit-setup.log 2>&1; then
  apt-get update -q >>/tmp/svfit-setup.log 2>&1
  apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/svfit-setup.log 2>&1 || {
    echo "svfit setup: apt-get failed; see /tmp/svfit-setup.log" >&2
    tail -20 /tmp/svfit-setup.log >&2
    exit 1
  }
fi
