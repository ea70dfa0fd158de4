#!/bin/sh
# morvane-plot refuses bad input with a clear message on standard error and a
# non-zero status, and then writes no picture and leaves an existing one alone.
#
# Usage: plot_rejects.sh MORVANE MORVANE_PLOT
set -eu
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
morvane=$(absolute "$1")
plot=$(absolute "$2")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0
failures=0
plot_path=$PATH  # the PATH that morvane-plot runs with

# rejects STATUS MESSAGE ARGUMENTS...: morvane-plot ends with STATUS and its
# standard error holds MESSAGE; picture.png, if given, is not touched.
rejects() {
    status=$1 message=$2
    shift 2
    echo "old picture" > picture.png
    set +e
    PATH=$plot_path "$plot" "$@" > out 2> errors
    got=$?
    set -e
    problem=
    [ "$got" = "$status" ] || problem="status $got, expected $status"
    grep -qF -- "$message" errors || problem="${problem:+$problem; }message not found"
    [ "$(cat picture.png)" = "old picture" ] || problem="${problem:+$problem; }picture.png changed"
    for left in .morvane-plot.*; do
        [ ! -e "$left" ] || problem="${problem:+$problem; }temporary file left"
    done
    if [ -z "$problem" ]; then
        passed=$((passed + 1))
        echo "ok: $* -> $status"
    else
        failures=$((failures + 1))
        echo "FAILED: morvane-plot $*: $problem"
        echo "  standard error was:"
        sed 's/^/    /' errors
    fi
}

"$morvane" 97 100000
Q=maxdevQ_97-1.txt
F=maxdevF_97-1.txt

# A file to break: the run's files in a folder of their own.
broken() {  # broken DIR: copies of the run's files in DIR
    rm -rf "$1"
    mkdir "$1"
    cp "$Q" "$F" "$1/"
}

# Usage.
rejects 2 "expected 3 arguments (QFILE FFILE PNGFILE), got 1" "$Q"
rejects 2 "Usage: morvane-plot [-s WIDTHxHEIGHT] [-g] QFILE FFILE PNGFILE" "$Q" "$F"
rejects 2 "expected 3 arguments (QFILE FFILE PNGFILE), got 4" "$Q" "$F" picture.png extra
rejects 2 "unknown option -x" -x "$Q" "$F" picture.png
rejects 2 "-s wants WIDTHxHEIGHT" -s big "$Q" "$F" picture.png
rejects 2 "from 100 to 10000 pixels" -s 99x600 "$Q" "$F" picture.png
rejects 2 "-s needs a value" -s

# Missing or unreadable files, and names that are not record file names.
rejects 1 "maxdevF_97-2.txt: no such file" maxdevQ_97-1.txt maxdevF_97-2.txt picture.png
rejects 1 "nowhere/maxdevQ_97-1.txt: no such file" nowhere/maxdevQ_97-1.txt "$F" picture.png
mkdir -p dir/maxdevQ_97-1.txt
cp "$F" dir/
rejects 1 "dir/maxdevQ_97-1.txt: not a regular file" dir/maxdevQ_97-1.txt dir/maxdevF_97-1.txt picture.png
cp "$Q" records.txt
rejects 1 "records.txt: not named like a record file" records.txt "$F" picture.png
rejects 1 "two Q files given" "$Q" "$Q" picture.png
rejects 1 "two F files given" "$F" "$F" picture.png
rejects 1 "the picture would overwrite a record file" "$Q" "$F" maxdevQ_2-1.txt
rejects 1 "no such directory" "$Q" "$F" missing/picture.png
mkdir folder.png
rejects 1 "folder.png: a directory, not a picture file" "$Q" "$F" folder.png
# 2^32 + 98: beyond morvane-x's p, and 98 in morvane's 32 bits.
cp "$Q" maxdevQ_4294967394-1.txt
cp "$F" maxdevF_4294967394-1.txt
rejects 1 "gives no p of a run" maxdevQ_4294967394-1.txt maxdevF_4294967394-1.txt picture.png
cp "$Q" maxdevQ_1k3-1.txt
cp "$F" maxdevF_1k3-1.txt
rejects 1 "gives no p of a run" maxdevQ_1k3-1.txt maxdevF_1k3-1.txt picture.png
# Beyond the signed 64-bit range p is -1, whatever the low digits.
cp "$Q" maxdevQ_18446744073709551713-1.txt
cp "$F" maxdevF_18446744073709551713-1.txt
rejects 1 "gives no p of a run" \
    maxdevQ_18446744073709551713-1.txt maxdevF_18446744073709551713-1.txt picture.png

# Files that are not record files.
broken empty; : > empty/$Q
rejects 1 "empty/$Q: empty, not a record file" empty/$Q empty/$F picture.png
broken text; printf 'hello world\n' > text/$F
rejects 1 "text/$F: not a record file (line 1: the last line is not a summary line" text/$Q text/$F picture.png
broken decimals; sed '3s/[0-9]$//' "$Q" > decimals/$Q
rejects 1 "decimals/$Q: not a record file (line 3: not \"n count excess\" with twelve decimals)" \
    decimals/$Q decimals/$F picture.png
broken more; sed '2s/$/0/' "$F" > more/$F
rejects 1 "more/$F: not a record file (line 2: not \"n count excess\" with twelve decimals)" \
    more/$Q more/$F picture.png
broken crlf; sed 's/$/\r/' "$Q" > crlf/$Q
rejects 1 "crlf/$Q: not a record file (line 1:" crlf/$Q crlf/$F picture.png
broken fields; sed '4s/^\([0-9]*\) /\1  /' "$Q" > fields/$Q
rejects 1 "fields/$Q: not a record file (line 4:" fields/$Q fields/$F picture.png
broken order; { sed -n 2p "$Q"; sed -n 1p "$Q"; sed 1,2d "$Q"; } > order/$Q
rejects 1 "order/$Q: not a record file (line 2: the records do not follow in increasing n)" \
    order/$Q order/$F picture.png
broken twice; { sed -n 1p "$F"; sed -n 1p "$F"; sed 1d "$F"; } > twice/$F
rejects 1 "twice/$F: not a record file (line 2: the records do not follow in increasing n)" \
    twice/$Q twice/$F picture.png
broken falls; { sed -n 1,2p "$Q"; sed -n 3p "$Q" | sed 's/ [0-9.]*$/ 0.000000000000/'; sed 1,3d "$Q"; } > falls/$Q
rejects 1 "falls/$Q: not a record file (line 3: an excess below the one recorded before it)" \
    falls/$Q falls/$F picture.png
broken count; sed '1s/^28 11 /28 29 /' "$Q" > count/$Q
rejects 1 "count/$Q: not a record file (line 1: a count above n)" count/$Q count/$F picture.png
broken summary; { sed '$d' "$F"; echo "100000 609042 1"; } > summary/$F
rejects 1 "summary/$F: not a record file" summary/$Q summary/$F picture.png
broken middle; { sed -n 1p "$Q"; echo "100000 39096"; sed 1d "$Q"; } > middle/$Q
rejects 1 "middle/$Q: not a record file (line 2: a summary line \"N count\" before the last line)" \
    middle/$Q middle/$F picture.png
broken beyond; { sed '$d' "$Q"; echo "100 60"; } > beyond/$Q
rejects 1 "beyond/$Q: not a record file" beyond/$Q beyond/$F picture.png
# Renamed to another nmin: the records lie below it.
cp "$Q" maxdevQ_97-100.txt
cp "$F" maxdevF_97-100.txt
rejects 1 "maxdevQ_97-100.txt: not a record file (line 1: a record below nmin 100)" \
    maxdevQ_97-100.txt maxdevF_97-100.txt picture.png

# Incomplete files: a run stopped before its summary lines.
broken stopped; sed '$d' "$Q" > stopped/$Q
rejects 1 "stopped/$Q: not a complete record file (line 81 is a record, not the summary line" \
    stopped/$Q stopped/$F picture.png
broken cut; head -c 50 "$F" > cut/$F
rejects 1 "cut/$F: not a complete record file (its last line has no newline)" \
    cut/$Q cut/$F picture.png

# Files of different runs.
mkdir other
(cd other && "$morvane" 97 200000)
rejects 1 "belong to different runs (N = 100000 and N = 200000 in their summary lines)" \
    "$Q" other/$F picture.png
"$morvane" 96 100000
rejects 1 "belong to different runs (their names differ in p or nmin)" "$Q" maxdevF_96-1.txt picture.png
"$morvane" 97 100000 3
rejects 1 "belong to different runs (their names differ in p or nmin)" "$Q" maxdevF_97-3.txt picture.png
(cd other && "$morvane" 89 100000 && mv maxdevF_89-1.txt maxdevF_97-1.txt)
rejects 1 "belong to different runs (their summary counts 39106 and 60901 do not add up to N = 100000)" \
    "$Q" other/$F picture.png

# A run with no records at all: p=97 N=nmin=4, where the Q-number 4 has a
# Q-excess of 1 - 4*0.391 < 0, and nothing else is scanned.
"$morvane" 97 4 4
if [ "$(cat maxdevQ_97-4.txt)" = "4 1" ] && [ "$(cat maxdevF_97-4.txt)" = "4 3" ]; then
    passed=$((passed + 1))
    echo "ok: morvane 97 4 4 writes no records"
else
    failures=$((failures + 1))
    echo "FAILED: morvane 97 4 4 was expected to write no records"
fi
rejects 1 "hold no records at all: nothing to draw" maxdevQ_97-4.txt maxdevF_97-4.txt picture.png

# gnuplot missing: every other tool the command uses stays on the PATH.
mkdir bin
for tool in awk sed od tail tr dirname mktemp chmod mv rm cat; do
    ln -s "$(command -v $tool)" bin/$tool
done
plot_path=$work/bin
rejects 1 "gnuplot not found: install it (Debian package gnuplot-nox)" "$Q" "$F" picture.png

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
