#!/bin/sh
# The manual quotes the programs exactly: the usage text as morvane prints it
# (and morvane-x's, when given), every message morvane prints (with %s for the
# file name), and the record files of its examples as a run writes them.
#
# Usage: quotes_the_programs.sh MORVANE PAGE [MORVANE_X]
set -u
. "$(dirname "$0")/../../tests/checks.sh"
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
morvane=$(absolute "$1")
page=$(absolute "$2")
morvane_x=${3:+$(absolute "$3")}
command -v groff >/dev/null || { echo "groff not found: install groff-base"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# The page as plain text, wide enough that no quoted line is broken.
LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou -rLL=200n "$page" > page.txt 2> errors
check "the page renders" test -s page.txt
# Its lines without their indentation, for finding a quoted line whole.
sed 's/^ *//' page.txt > lines.txt

# A usage text: the displayed block that starts with its first line, less its
# indentation, is byte for byte what the program prints with no argument (less
# the newline after it).
quotes_usage() {  # quotes_usage PROGRAM
    "$1" > usage.txt
    awk -v lines="$(wc -l < usage.txt)" -v first="$(head -n 1 usage.txt)" '
        index($0, first) && !found {
            indent = index($0, first) - 1; found = 1; left = lines
        }
        left > 0 {
            if (length($0) > 0 && substr($0, 1, indent) !~ /^ *$/) exit 1
            print substr($0, indent + 1); left--
        }' page.txt > quoted-usage.txt
    diff usage.txt quoted-usage.txt
}
check "the usage text is quoted byte for byte" quotes_usage "$morvane"
if [ -n "$morvane_x" ]; then
    check "morvane-x's usage text is quoted byte for byte" quotes_usage "$morvane_x"
fi

# Every message, each on a line of its own.
quoted() {  # quoted MESSAGE: MESSAGE is a whole line of the page
    grep -qxF -- "$1" lines.txt || { echo "  not in the page: $1"; return 1; }
}
message() { "$morvane" "$@" | sed 's/maxdev[QF]_[^ ]*\.txt/%s/'; }
check "the p message" quoted "$(message 1 10)"
check "the N message" quoted "$(message 2 1)"
check "the nmin message" quoted "$(message 2 10 11)"
mkdir maxdevQ_2-1.txt
check "the message of a file that cannot be created" quoted "$(message 2 10)"
rmdir maxdevQ_2-1.txt
if [ -w /dev/full ]; then
    ln -s /dev/full maxdevQ_2-1.txt
    check "the message of a file that cannot be written" quoted "$(message 2 10)"
    rm -f maxdevQ_2-1.txt maxdevF_2-1.txt
fi

# The example: the lines after "$ cat FILE" (or "$ tail -n K FILE") up to the
# next prompt or blank line are the file as the run writes it.
shown() {  # shown COMMAND: the lines the page shows after "$ COMMAND"
    awk -v command="\$ $1" '
        $0 == command { showing = 1; next }
        showing && ($0 == "" || /^\$ /) { exit }
        showing { print }' lines.txt
}
is_shown() {  # is_shown COMMAND TEXT
    [ "$(shown "$1")" = "$2" ] || {
        echo "  the page shows after \$ $1:"; shown "$1" | sed 's/^/    /'
        echo "  a run writes:"; printf '%s\n' "$2" | sed 's/^/    /'
        return 1
    }
}
"$morvane" 2 10
check "the example Q file of morvane 2 10" is_shown "cat maxdevQ_2-1.txt" "$(cat maxdevQ_2-1.txt)"
check "the example F file of morvane 2 10" is_shown "cat maxdevF_2-1.txt" "$(cat maxdevF_2-1.txt)"
"$morvane" 97 10000000
check "the example tail of morvane 97 10000000" \
    is_shown "tail -n 2 maxdevF_97-1.txt" "$(tail -n 2 maxdevF_97-1.txt)"

tally
