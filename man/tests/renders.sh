#!/bin/sh
# The manual pages render without a single warning, through groff with every
# warning on and through man as a reader runs it, and their NAME lines parse
# for whatis and apropos.
#
# Usage: renders.sh PAGE...
set -u
for tool in groff man lexgrog; do
    command -v $tool >/dev/null ||
        { echo "$tool not found: install groff-base and man-db"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failures=0
check() {  # check DESCRIPTION: the last command's standard error was empty
    if [ -s "$work/errors" ]; then
        echo "FAILED: $1:"
        sed 's/^/    /' "$work/errors"
        failures=$((failures + 1))
    else
        echo "ok: $1"
        passed=$((passed + 1))
    fi
}

for page in "$@"; do
    groff -man -ww -z -Tutf8 "$page" 2> "$work/errors"
    check "groff -man -ww renders $page"
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" > "$work/text" 2> "$work/errors"
    [ -s "$work/text" ] || echo "man printed nothing" >> "$work/errors"
    check "man --warnings -l renders $page at 80 columns"
    LC_ALL=C.UTF-8 MANWIDTH=60 man --warnings -E UTF-8 -l "$page" > /dev/null 2> "$work/errors"
    check "man --warnings -l renders $page at 60 columns"
    : > "$work/errors"
    if ! lexgrog "$page" > "$work/name" 2>&1 || grep -q ': parse failed' "$work/name"; then
        cat "$work/name" > "$work/errors"
    fi
    check "lexgrog finds the NAME line of $page"
done

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
