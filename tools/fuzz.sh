#!/usr/bin/env bash
# make fuzz: builds the libFuzzer targets of tests/fuzz in build-fuzz (clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) and runs each for a fixed
# number of executions, then prints per target the executions, the time, the
# coverage reached and whether it crashed.
#
#   tools/fuzz.sh          full runs: 10^6 executions of the scan reader and
#                          the key decoder, 3·10^5 of the slower text parsers
#                          and HPGL renderer
#   tools/fuzz.sh N        N executions per target (CI: a short run)
#   FUZZ_TARGETS="fuzz_key_decoder ..." tools/fuzz.sh   only those targets
#
# Seeds are read where they lie, never copied: the real scan files in
# ../shared/data/real and the sample runs in data/sample (for the reader and
# the text parsers), a few key sequences written into build-fuzz for the key
# decoder. New inputs the fuzzer finds go to build-fuzz/corpus/TARGET and are
# kept for the next run; a crash or hang leaves its input in
# build-fuzz/artifacts/ and makes the script fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-fuzz"
runs=${1:-}
jobs=${JOBS:-$(nproc)}

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (make setup)" >&2; exit 1; }
if [[ ! -f "$out/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSVFIT_FUZZ=ON >/dev/null
fi
cmake --build "$out" --target fuzz_targets -j "$jobs" -- --no-print-directory >/dev/null

# Seed directories that exist.
scan_seeds=()
for d in "$root"/../shared/data/real/*/ "$root"/data/sample/*/; do
  [[ -d "$d" ]] && scan_seeds+=("$d")
done
key_seeds="$out/seeds/keys"
mkdir -p "$key_seeds" "$out/artifacts"
printf '\r\r\rS\r\rabs\n2\n\n\n\nE' >"$key_seeds/answers"
printf '\e[D\e[1;2D\e[C\e[1;2C\e[A\e[B\eOA\e[H\e[F\e[5~\e[6~' >"$key_seeds/cursor"
printf '\eOP\e[15~\e[24~\e[[A\e[2~\e[3~\e' >"$key_seeds/function"
printf 'a\xc3\xa4\xc2\xb5\x7f\r\n\n\e\e[' >"$key_seeds/text"

# Leaks of third-party caches (fontconfig) are not the program's.
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

status=0
printf '%-18s %10s %8s %8s %8s %8s  %s\n' target executions seconds cov ft corpus result
run() {
  local target=$1 count=${runs:-$2}
  shift 2
  [[ -z ${FUZZ_TARGETS:-} || " $FUZZ_TARGETS " == *" $target "* ]] || return 0
  local corpus="$out/corpus/$target" log="$out/$target.log"
  mkdir -p "$corpus"
  local result=ok
  if ! "$out/tests/fuzz/$target" -runs="$count" -seed=1 -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" \
      "$corpus" "$@" >"$log" 2>&1; then
    result="CRASH (see $log)"
    status=1
  fi
  local executed seconds done_line
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  done_line=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$log" | tail -1 || true)
  printf '%-18s %10s %8s %8s %8s %8s  %s\n' "$target" "${executed:-?}" "${seconds:-?}" \
    "$(grep -oE 'cov: [0-9]+' <<<"$done_line" | cut -d' ' -f2)" \
    "$(grep -oE 'ft: [0-9]+' <<<"$done_line" | cut -d' ' -f2)" \
    "$(grep -oE 'corp: [0-9]+' <<<"$done_line" | cut -d' ' -f2)" "$result"
  if [[ $result != ok ]]; then
    grep -E 'ERROR|SUMMARY|invariant|check failed|runtime error|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
}
run fuzz_scan_reader 1000000 "${scan_seeds[@]}"
run fuzz_text_parsers 300000 "${scan_seeds[@]}"
run fuzz_key_decoder 1000000 "$key_seeds"
run fuzz_hpgl_render 300000 "$root/tests/testdata/hpgl"
exit $status
