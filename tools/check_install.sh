#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a user gets:
# every command in bin/ and runnable, `svfit --help` naming every option of
# the manual page and exiting 0, and the manual page rendered by man without
# a warning. Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/svfit-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for command in svfit svfit-sim svfit-plot; do
  [[ -x "$prefix/bin/$command" ]] || fail "$command not installed in bin/"
done
"$prefix/bin/svfit-sim" --help >/dev/null || fail "svfit-sim --help failed"

help=$("$prefix/bin/svfit" --help) || fail "svfit --help exited $?"
[[ $("$prefix/bin/svfit" --version) == "svfit "* ]] || fail "svfit --version"
if "$prefix/bin/svfit" --no-such-option >/dev/null 2>&1; then fail "a bad option is accepted"; fi

page="$prefix/share/man/man1/svfit.1"
[[ -f "$page" ]] || fail "manual page not installed"
rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$prefix/warnings") || fail "man -l failed"
[[ ! -s "$prefix/warnings" ]] || fail "man warns: $(cat "$prefix/warnings")"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "BATCH USE" "RESULTS FILE" "CURVE FILES" \
               FILES "EXIT STATUS"; do
  grep -q "^$section\$" <<<"$rendered" || fail "manual page lacks the section $section"
done
# Every option of the help is described in the manual page, and the other way round.
help_options=$(grep -oE -- '--[a-z]+' <<<"$help" | sort -u)
page_options=$(sed -n '/^OPTIONS$/,/^BATCH USE$/p' <<<"$rendered" | grep -oE -- '--[a-z]+' | sort -u)
[[ "$help_options" == "$page_options" ]] ||
  fail "options differ: help [$(echo $help_options)] manual [$(echo $page_options)]"
echo "installed and rendered: $(ls "$prefix/bin" | tr '\n' ' ')"
