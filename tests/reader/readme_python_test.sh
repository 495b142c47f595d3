#!/bin/sh
# Runs the README's Python example (its one python block) on a pack made by
# vpf and compares every line it prints (name, size, CRC-32) with the files
# packed.
#   readme_python_test.sh README LIBRARY VPF
set -eu
readme=$1 lib=$2 vpf=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/readme-python.XXXXXX")
trap 'rm -rf "$work"' EXIT

awk '/^```python$/ {on = 1; next} /^```$/ {on = 0} on' "$readme" >"$work/example.py"
test -s "$work/example.py" || { echo "no python block in $readme" >&2; exit 1; }

mkdir -p "$work/tree/Sub"
seq 1 5000 >"$work/tree/Numbers.txt"
head -c 5000 /dev/urandom >"$work/tree/Sub/noise.bin"
: >"$work/tree/Sub/empty"
"$vpf" create -q "$work/t.vpf" -C "$work/tree" .

python3 "$work/example.py" "$lib" "$work/t.vpf" >"$work/got"
(cd "$work/tree" && python3 -c '
import os, sys, zlib
for root, dirs, files in os.walk("."):
    for f in files:
        p = os.path.join(root, f)
        data = open(p, "rb").read()
        print(p[2:].replace("/", "\\"), len(data), "%08x" % zlib.crc32(data))
') | sort >"$work/expected"
sort "$work/got" | diff "$work/expected" - || { echo "the example printed other lines" >&2; exit 1; }
test "$(wc -l <"$work/got")" -eq 3
echo "readme python example: $(wc -l <"$work/got") files, names, sizes and CRC-32 as packed"
