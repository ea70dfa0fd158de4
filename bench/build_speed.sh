#!/usr/bin/env bash
# The build's figures, for each commit given (default: HEAD), in one run so
# that they can be compared side by side on a shared machine:
#   first:   the README's first command from a fresh clone, packages in place
#            (configure, build with -j2, morvane 97 1000000): wall and CPU seconds;
#   rebuild: the build after touching one app's source: apps/morvane-x.cpp,
#            then apps/morvane-merge.cpp, the largest;
#   pip:     pip install --no-build-isolation . into a fresh virtual environment.
# Nothing is cached: no ccache, a fresh clone each time.
#
# Usage: bench/build_speed.sh [COMMIT...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
commits=("$@")
((${#commits[@]})) || commits=(HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

timed() {  # timed LABEL COMMAND...: prints "LABEL wall W s cpu C s"
    local label=$1
    shift
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > "$work/log" 2>&1 ||
        { tail -n 30 "$work/log"; echo "build_speed.sh: $label failed" >&2; exit 1; }
    read -r wall user sys < "$work/time"
    printf '%-36s wall %6.1f s   cpu %6.1f s\n' "$label" "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')"
}

for commit in "${commits[@]}"; do
    name=$(git -C "$top" rev-parse --short "$commit")
    clone=$work/$name
    git clone -q "$top" "$clone"
    git -C "$clone" checkout -q "$commit"
    cd "$clone"
    timed "$name first command" bash -c \
        'cmake -S . -B build && cmake --build build -j2 && mkdir -p out && cd out && ../build/morvane 97 1000000'
    touch apps/morvane-x.cpp
    timed "$name rebuild, morvane-x.cpp" cmake --build build -j2
    touch apps/morvane-merge.cpp
    timed "$name rebuild, morvane-merge.cpp" cmake --build build -j2
    /usr/bin/python3 -m venv --system-site-packages "$work/venv-$name"
    timed "$name pip install" "$work/venv-$name/bin/pip" install --no-build-isolation --no-deps .
    cd "$top"
    rm -rf "$clone" "$work/venv-$name"
done
