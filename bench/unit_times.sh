#!/usr/bin/env bash
# CPU seconds (user + system) of each translation unit of the README's first
# build, from a fresh build folder with the packages in place (no ccache): a
# compiler launcher times each compile, and the units are listed from the
# slowest, with when each started and ended after the build began (-j2).
#
# Usage: bench/unit_times.sh [CMAKE_OPTION...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/launcher" <<'LAUNCHER'
#!/usr/bin/env bash
out= prev=
for a in "$@"; do [[ $prev == -o ]] && out=$a; prev=$a; done
start=$(date +%s.%N)
/usr/bin/time -f '%U %S' -o "$TIMES.$$" "$@" || { rm -f "$TIMES.$$"; exit 1; }
read -r user sys < "$TIMES.$$"
rm -f "$TIMES.$$"
echo "$user $sys $start $(date +%s.%N) ${out##*/}" >> "$TIMES"
LAUNCHER
chmod +x "$work/launcher"
export TIMES=$work/times
cmake -S "$top" -B "$work/build" -DCMAKE_CXX_COMPILER_LAUNCHER="$work/launcher" "$@" > /dev/null
begin=$(date +%s.%N)
cmake --build "$work/build" -j2 > "$work/log" 2>&1 || { tail -n 30 "$work/log"; exit 1; }
end=$(date +%s.%N)
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
awk -v b="$begin" '{ printf "%7.1f s   %5.1f to %5.1f s   %s\n", $1 + $2, $3 - b, $4 - b, $5 }' \
    "$TIMES" | sort -rn
awk -v b="$begin" -v e="$end" '{ cpu += $1 + $2 }
    END { printf "%7.1f s   all units; the build %.1f s wall\n", cpu, e - b }' "$TIMES"
