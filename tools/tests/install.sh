#!/bin/sh
# cmake --install puts the programs, morvane-plot and the manual pages in
# place, and what it installed works: man finds every page, morvane-l's and
# morvane-x's pages show morvane's, and the installed commands run an
# experiment, check its files and draw it.
#
# Usage: install.sh CMAKE BUILD_DIR FULL_BINDIR FULL_MANDIR WITH_MORVANE_L(yes|no)
#                   WITH_MORVANE_X(yes|no)
set -u
. "$(dirname "$0")/../../tests/checks.sh"
cmake=$1 build=$2 bindir=$3 mandir=$4 extended=$5 exact=$6

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
quiet() {  # quiet COMMAND...: runs it, fails if it fails or says anything on stderr
    if "$@" > "$dest/out" 2> "$dest/errors" && [ -s "$dest/out" ] && [ ! -s "$dest/errors" ]; then
        return 0
    fi
    sed 's/^/    /' "$dest/errors"
    return 1
}

DESTDIR=$dest/root "$cmake" --install "$build" > "$dest/install.log" 2>&1 ||
    { cat "$dest/install.log"; echo "FAILED: cmake --install"; exit 1; }
bin=$dest/root$bindir
man=$dest/root$mandir

check "morvane in $bindir" test -x "$bin/morvane"
check "morvane-plot in $bindir" test -x "$bin/morvane-plot"
check "morvane(1) in $mandir/man1" test -f "$man/man1/morvane.1"
check "morvane-plot(1) in $mandir/man1" test -f "$man/man1/morvane-plot.1"
check "morvane-par and morvane-merge in $bindir" test -x "$bin/morvane-par" -a -x "$bin/morvane-merge"
check "morvane-par(1) and morvane-merge(1) in $mandir/man1" \
    test -f "$man/man1/morvane-par.1" -a -f "$man/man1/morvane-merge.1"
check "morvane-check in $bindir" test -x "$bin/morvane-check"
check "morvane-check(1) in $mandir/man1" test -f "$man/man1/morvane-check.1"
if [ "$extended" = yes ]; then
    check "morvane-l in $bindir" test -x "$bin/morvane-l"
    check "morvane-l(1) in $mandir/man1" test -f "$man/man1/morvane-l.1"
    pages="morvane morvane-l morvane-plot"
else
    check "no morvane-l where it is not built" test ! -e "$bin/morvane-l"
    check "no morvane-l(1) where it is not built" test ! -e "$man/man1/morvane-l.1"
    pages="morvane morvane-plot"
fi
if [ "$exact" = yes ]; then
    check "morvane-x in $bindir" test -x "$bin/morvane-x"
    check "morvane-x(1) in $mandir/man1" test -f "$man/man1/morvane-x.1"
    pages="$pages morvane-x"
fi

pages="$pages morvane-par morvane-merge morvane-check"
if command -v man >/dev/null; then
    for page in $pages; do
        check "man finds and renders $page without warnings" \
            quiet env LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -M "$man" "$page"
    done
    if [ "$extended" = yes ]; then
        LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -M "$man" morvane-l > "$dest/page" 2>&1
        check "morvane-l's page is morvane's" grep -q '^MORVANE(1)' "$dest/page"
    fi
    if [ "$exact" = yes ]; then
        LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -M "$man" morvane-x > "$dest/page" 2>&1
        check "morvane-x's page is morvane's" grep -q '^MORVANE(1)' "$dest/page"
    fi
else
    echo "man not found: install man-db"
    failures=$((failures + 1))
fi

# The installed commands: an experiment and its picture.
mkdir "$dest/run"
cd "$dest/run" || exit 1
check "the installed morvane runs" "$bin/morvane" 97 100000
if [ "$extended" = yes ]; then
    mkdir l
    check "the installed morvane-l runs" sh -c "cd l && '$bin/morvane-l' 97 100000"
fi
if [ "$exact" = yes ]; then
    mkdir x
    check "the installed morvane-x runs" sh -c "cd x && '$bin/morvane-x' 97 100000"
    check "morvane-plot draws morvane-x's files" \
        "$bin/morvane-plot" x/maxdevQ_97-1.txt x/maxdevF_97-1.txt x/records.png
fi
check "the installed morvane-check passes morvane's files" \
    "$bin/morvane-check" morvane maxdevQ_97-1.txt maxdevF_97-1.txt
if [ "$exact" = yes ]; then
    check "the installed morvane-check passes morvane-x's files" \
        "$bin/morvane-check" morvane-x x/maxdevQ_97-1.txt x/maxdevF_97-1.txt
fi
check "the installed morvane-plot draws" \
    "$bin/morvane-plot" maxdevQ_97-1.txt maxdevF_97-1.txt records.png
# morvane-par finds the installed programs beside it: 3 windows, one run's files.
if command -v parallel >/dev/null; then
    mkdir par
    check "the installed morvane-par runs windows and merges them" \
        sh -c "cd par && '$bin/morvane-par' -w 3 morvane 97 100000 && cmp maxdevQ_97-1.txt ../maxdevQ_97-1.txt && cmp maxdevF_97-1.txt ../maxdevF_97-1.txt"
fi
check "a picture" test -s records.png

tally
