#!/bin/sh
# The library as its users take it: cmake --install under a prefix of one's
# own, as --prefix "$HOME/.local" would, then the examples built against that
# install twice, with find_package(morvane) and with pkg-config, and run
# without LD_LIBRARY_PATH. Their output agrees with morvane-x's and with the
# published count of the numbers up to 10^18 that are not squarefree (OEIS
# A071172: 10^18 minus 607927101854026628). The installed morvane and
# morvane-l need nothing but the C and C++ runtimes.
#
# Usage: library.sh CMAKE BUILD_DIR SOURCE_DIR CXX WITH_MORVANE_L(yes|no)
set -u
. "$(dirname "$0")/../../tests/checks.sh"
cmake=$1 build=$2 source=$3 cxx=$4 extended=$5

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
prefix=$dest/home/.local
"$cmake" --install "$build" --prefix "$prefix" > "$dest/install.log" 2>&1 ||
    { cat "$dest/install.log"; echo "FAILED: cmake --install --prefix"; exit 1; }
unset LD_LIBRARY_PATH
lib=$(dirname "$(find "$prefix" -name 'libmorvane.so' | head -n 1)")

check "libmorvane.so, its versioned name and <morvane.hpp> installed" \
    sh -c "ls '$lib'/libmorvane.so.1 '$lib'/libmorvane.so.1.* '$prefix/include/morvane.hpp' >/dev/null"
check "the CMake package and morvane.pc installed" \
    test -f "$lib/cmake/morvane/morvane-config.cmake" -a -f "$lib/pkgconfig/morvane.pc"

# Nothing but the C and C++ runtimes: no GMP, MPFR, primesieve, Boost, nor
# libmorvane itself.
runtimes_only() {
    ldd "$1" > "$dest/ldd" || return 1
    ! grep -E 'gmp|mpfr|primesieve|boost|morvane|not found' "$dest/ldd"
}
check "ldd: the installed morvane needs only the C and C++ runtimes" runtimes_only "$prefix/bin/morvane"
if [ "$extended" = yes ]; then
    check "ldd: the installed morvane-l needs only the C and C++ runtimes" \
        runtimes_only "$prefix/bin/morvane-l"
fi
finds_library() {
    ldd "$1" > "$dest/ldd" || return 1
    found=$(sed -n 's/.*libmorvane.so.1 => \(.*\) (0x.*/\1/p' "$dest/ldd")
    [ -z "$found" ] || [ "$(readlink -f "$found")" = "$(readlink -f "$lib/libmorvane.so.1")" ] &&
        ! grep -q 'not found' "$dest/ldd"
}
for program in morvane-x morvane-merge morvane-check; do
    check "$program finds what it links (the installed libmorvane) without LD_LIBRARY_PATH" \
        finds_library "$prefix/bin/$program"
done
check "morvane-x runs on the installed libmorvane" \
    sh -c "ldd '$prefix/bin/morvane-x' | grep -q libmorvane && cd '$dest' && '$prefix/bin/morvane-x' -k 3 all 1000 > /dev/null"

# The examples by find_package(morvane).
"$cmake" -S "$source/examples" -B "$dest/examples" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" > "$dest/examples.log" 2>&1 &&
    "$cmake" --build "$dest/examples" >> "$dest/examples.log" 2>&1 ||
    { cat "$dest/examples.log"; echo "FAILED: the examples by find_package"; exit 1; }
# q-count.cpp alone by pkg-config.
(cd "$dest" && PKG_CONFIG_PATH="$lib/pkgconfig" "$cxx" -std=c++20 "$source/examples/q-count.cpp" \
    $(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs morvane) -o q-count-pc) \
    > "$dest/pc.log" 2>&1 || { cat "$dest/pc.log"; echo "FAILED: q-count by pkg-config"; exit 1; }

for q_count in "$dest/examples/q-count" "$dest/q-count-pc"; do
    how=$( [ "$q_count" = "$dest/q-count-pc" ] && echo pkg-config || echo find_package)
    check "q-count ($how): C(10^18) of every prime's squares is A071172's" \
        sh -c "[ \"\$('$q_count' all 1000000000000000000)\" = 392072898145977250 ]"
    check "q-count ($how): 2^64 - 1 written in full, cubes of every prime" \
        sh -c "'$q_count' -k 3 all 18446744073709551615 > '$dest/top' && grep -qx '[0-9]*' '$dest/top'"
    check "q-count ($how): a refused p gives morvane-x's message" \
        sh -c "! '$q_count' 1 100 2> '$dest/err' && grep -qx 'Error: value of p out of range' '$dest/err'"
done

# records writes morvane-x's two files, byte for byte; q-count agrees with
# their summary line, C(N).
mkdir "$dest/x" "$dest/r"
for args in "97 1000000" "-k 3 all 2000000 1000" "1000 300000 17"; do
    rm -f "$dest"/x/* "$dest"/r/*
    (cd "$dest/x" && "$prefix/bin/morvane-x" $args > /dev/null)
    (cd "$dest/r" && "$dest/examples/records" $args > /dev/null)
    check "records $args: morvane-x's files, byte for byte" diff -r "$dest/x" "$dest/r"
    set -- $args
    [ "$1" = -k ] && { k_args="-k $2"; shift 2; } || k_args=
    summary=$(tail -n 1 "$dest"/x/maxdevQ_*)
    check "q-count $k_args $1 $2: the count in morvane-x's summary line" \
        sh -c "[ \"$2 \$('$dest/examples/q-count' $k_args $1 $2)\" = '$summary' ]"
done
tally
