#!/bin/sh
# morvane-plot draws the record files of real runs: a PNG of the asked size,
# with both series in their colours, the title naming p, N and nmin.
#
# Usage: plot_draws.sh MORVANE MORVANE_PLOT PNG_PIXELS_PY
set -eu
. "$(dirname "$0")/../../tests/checks.sh"
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
morvane=$(absolute "$1")
plot=$(absolute "$2")
pixels="python3 $(absolute "$3")"
# The series colours of morvane-plot (line styles 1 and 2).
q_colour=1f5fbf
f_colour=d0202a

command -v gnuplot >/dev/null || { echo "gnuplot not found: install gnuplot-nox"; exit 1; }
command -v python3 >/dev/null || { echo "python3 not found"; exit 1; }

umask 022
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
is() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }
above() { [ "$1" -gt "$2" ] || { echo "  got $1, expected more than $2"; return 1; }; }
below() { [ "$1" -lt "$2" ] || { echo "  got $1, expected less than $2"; return 1; }; }

# A real run with records in both files.
"$morvane" 97 100000
"$plot" maxdevQ_97-1.txt maxdevF_97-1.txt records.png 2>errors
check "status 0 and nothing on standard error" is "$(cat errors)" ""
check "the PNG exists" test -s records.png
# shellcheck disable=SC2046
set -- $($pixels records.png $q_colour $f_colour)
check "default size 1000x600" is "$1x$2" 1000x600
# A blank picture has one colour; axes, text and two anti-aliased lines many.
check "not blank: many colours" above "$3" 50
check "the Q records are drawn" above "$4" 400
check "the F records are drawn" above "$5" 400
size=$(wc -c < records.png)
check "file size well above a blank picture's" above "$size" 10000
check "a new picture has the permissions of a new file" \
    is "$(stat -c %a records.png)" 644

# Another size; the picture is replaced.
"$plot" -s 640x480 maxdevF_97-1.txt maxdevQ_97-1.txt records.png
# shellcheck disable=SC2046
set -- $($pixels records.png $q_colour $f_colour)
check "-s 640x480 gives 640x480, files in either order" is "$1x$2" 640x480
check "both series drawn at 640x480" above "$(( $4 < $5 ? $4 : $5 ))" 200
check "no temporary file left behind" is "$(echo .morvane-plot.*)" ".morvane-plot.*"

# The title: p from the p text, N from the summary lines, nmin from the names.
title() { "$plot" -g "$@" out.png | sed -n 's/^set title "\(.*\)" noenhanced$/\1/p'; }
check "title of a plain run" is "$(title maxdevQ_97-1.txt maxdevF_97-1.txt)" \
    "Records of the Q-excess and the F-excess: p = 97, N = 100000, nmin = 1"
"$morvane" 05 1000 5
check "leading zeros: p = 5 with its p text" is "$(title maxdevQ_05-5.txt maxdevF_05-5.txt)" \
    "Records of the Q-excess and the F-excess: p = 5 (p text 05), N = 1000, nmin = 5"
"$morvane" +7 1000
check "empty p text: no p" is "$(title maxdevQ_-1.txt maxdevF_-1.txt)" \
    "Records of the Q-excess and the F-excess: p not in the file names, N = 1000, nmin = 1"
"$morvane" 4294967298 1000
check "ten digits whose low 32 bits are 2" \
    is "$(title maxdevQ_4294967298-1.txt maxdevF_4294967298-1.txt)" \
    "Records of the Q-excess and the F-excess: p = 2 (p text 4294967298), N = 1000, nmin = 1"
"$plot" maxdevQ_-1.txt maxdevF_-1.txt empty-ptext.png
check "an empty p text draws" test -s empty-ptext.png

# A run whose Q file holds only its summary line: the F series alone.
"$morvane" 2 7 5
check "the Q file of p=2 N=7 nmin=5 has no record" is "$(cat maxdevQ_2-5.txt)" "7 1"
"$plot" maxdevQ_2-5.txt maxdevF_2-5.txt f-only.png 2>errors
check "one series: status 0, nothing on standard error" is "$(cat errors)" ""
# shellcheck disable=SC2046
set -- $($pixels f-only.png $q_colour $f_colour)
check "one series: the F records drawn" above "$5" 400
check "one series: the Q colour only in the legend" below "$4" 150
"$plot" -g maxdevQ_2-5.txt maxdevF_2-5.txt x.png > script.gp
check "one series: the legend says so" grep -q 'title "Q-excess: no records"' script.gp

# A single record at nmin = N (an x range of one point), and -0.000000000000.
"$morvane" 2 10 10
"$plot" maxdevQ_2-10.txt maxdevF_2-10.txt single.png 2>errors
check "nmin = N: status 0, nothing on standard error" is "$(cat errors)" ""
"$morvane" 3 20
check "p=3 N=20 records -0.000000000000" grep -qx '9 3 -0.000000000000' maxdevQ_3-1.txt
"$plot" maxdevQ_3-1.txt maxdevF_3-1.txt minus-zero.png
check "-0.000000000000 is a valid record" test -s minus-zero.png

# Paths with a quote and a leading '<' reach gnuplot as plain names.
mkdir "it's" "<dir"
cp maxdevQ_97-1.txt maxdevF_97-1.txt "<dir/"
"$plot" "<dir/maxdevQ_97-1.txt" "<dir/maxdevF_97-1.txt" "it's/records.png"
check "quote and '<' in paths" test -s "it's/records.png"

# Counts beyond 64-bit signed range, as morvane-l writes them.
printf '5000000000 1 0.100000000000\n18446744073709551615 18446744073709551610\n' > maxdevQ_3-1000.txt
printf '1000 1 0.300000000000\n18446744073709551615 5\n' > maxdevF_3-1000.txt
"$plot" maxdevQ_3-1000.txt maxdevF_3-1000.txt wide.png 2>errors
check "64-bit counts: status 0, nothing on standard error" is "$(cat errors)" ""
check "64-bit counts: N in full in the title" is "$(title maxdevQ_3-1000.txt maxdevF_3-1000.txt)" \
    "Records of the Q-excess and the F-excess: p = 3, N = 18446744073709551615, nmin = 1000"

tally
