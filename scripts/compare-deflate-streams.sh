#!/bin/sh
# Checks that the compressor in this tree writes the same streams, byte for
# byte, as the compressor of a reference commit, on the benchmark's inputs
# and on a few hundred real files (Wine's DLLs, /usr/share/doc), on the host
# and in the 32-bit Windows build under Wine. Not a CI test (about 2 minutes).
#   scripts/compare-deflate-streams.sh [--bench] [REFERENCE_COMMIT]
# REFERENCE_COMMIT defaults to 023c9db. With --bench, the reference sources'
# benchmark figures are printed too (the "before" column of bench/README.md).
set -e
cd "$(dirname "$0")/.."
bench=no
if [ "$1" = "--bench" ]; then bench=yes; shift; fi
reference="${1:-023c9db}"
work="$(mktemp -d)"
cleanup() {
    [ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/reference"
git archive "$reference" ziparchive | tar -x -C "$work/reference"

# Reads of the full size asked for, and reads of 1000 bytes at most.
list="$work/files.txt"
{
    find /usr/lib/i386-linux-gnu/wine/i386-windows -type f -size -2048k | sort | awk 'NR % 3 == 1' | head -n 250
    find /usr/share/doc -type f | sort | awk 'NR % 10 == 0' | head -n 250
} >"$list"
echo "compare: $(wc -l <"$list") listed files besides the benchmark's inputs"

failed=no

# build COMPILER SOURCE_DIR OUTPUT [DEFINES]: the stream dump (or, with
# DEFLATE_BENCH set, the benchmark) over the compressor of SOURCE_DIR.
build() {
    compiler="$1"; sources="$2"; output="$3"
    extra=""
    case "$compiler" in *mingw*) extra="-static -static-libgcc -static-libstdc++" ;; esac
    $compiler -std=c++17 -O2 -I"$sources" -Ibench -Itests/deflate_host $4 \
        "$sources"/crc32.cpp "$sources"/deflate_*.cpp bench/bench_corpus.cpp $5 -o "$output" $extra $6
}

host_dumps() {
    build g++ "$1" "$work/streams-$2" "" bench/deflate_streams.cpp
    "$work/streams-$2" $3 "$work/$2.full" "$list" || failed=yes
    "$work/streams-$2" $3 --chunk 1000 "$work/$2.chunked" "$list" || failed=yes
}

wine_dumps() {
    build i686-w64-mingw32-g++-posix "$1" "$work/streams-$2.exe" "" bench/deflate_streams.cpp
    WINEPREFIX="$work/prefix" WINEDEBUG=-all wine "$work/streams-$2.exe" $3 "Z:$work/$2.full" "$list" || failed=yes
    WINEPREFIX="$work/prefix" WINEDEBUG=-all wine "$work/streams-$2.exe" $3 --chunk 1000 "Z:$work/$2.chunked" "$list" || failed=yes
}

same() {
    if cmp -s "$work/$1" "$work/$2"; then
        echo "compare: $1 = $2 ($(stat -c %s "$work/$1") bytes)"
    else
        echo "compare: $1 DIFFERS from $2: $(cmp "$work/$1" "$work/$2" 2>&1 | head -n 1)"
        failed=yes
    fi
}

echo "compare: host, reference $reference with a fresh context per input"
host_dumps "$work/reference/ziparchive" host-reference --fresh
echo "compare: host, this tree with one context for all inputs, and fresh ones"
host_dumps ziparchive host-reused ""
host_dumps ziparchive host-fresh --fresh
for mode in full chunked; do
    same host-reference.$mode host-reused.$mode
    same host-reference.$mode host-fresh.$mode
done

echo "compare: making a Wine prefix"
WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all wineboot -i >/dev/null 2>&1
echo "compare: 32-bit build under Wine"
wine_dumps "$work/reference/ziparchive" win-reference --fresh
wine_dumps ziparchive win-reused ""
for mode in full chunked; do
    same win-reference.$mode win-reused.$mode
    same host-reference.$mode win-reference.$mode
done

if [ "$bench" = yes ]; then
    zlib_win="-I/usr/i686-w64-mingw32/include /usr/i686-w64-mingw32/lib/libz.a"
    build g++ "$work/reference/ziparchive" "$work/bench-reference" -DDEFLATE_BENCH_FRESH_CONTEXT bench/deflate_bench.cpp -lz
    build i686-w64-mingw32-g++-posix "$work/reference/ziparchive" "$work/bench-reference.exe" \
        -DDEFLATE_BENCH_FRESH_CONTEXT bench/deflate_bench.cpp "$zlib_win"
    echo "compare: reference benchmark, host"
    "$work/bench-reference" | tail -n 9
    echo "compare: reference benchmark, 32-bit under Wine"
    WINEPREFIX="$work/prefix" WINEDEBUG=-all wine "$work/bench-reference.exe" | tail -n 9
fi

[ "$failed" = no ] && echo "compare: every stream is identical" || { echo "compare: STREAMS DIFFER"; exit 1; }
