#!/usr/bin/env bash
# The same files as reader_bench's header pack, read from a zip archive:
# builds /usr/include into a zip (zip -9 -r -q) once, then times
#   - unzip -p of the whole archive (every file, one process), and
#   - unzip -p of single files, one process per file, over a sample,
# and runs reader_bench for the pack side.
#   bench/reader/zip_compare.sh BUILD_DIR [SAMPLE_FILES]
set -euo pipefail
build=${1:?build dir}
sample=${2:-300}
work=$(mktemp -d "${TMPDIR:-/tmp}/zipbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# -y keeps symbolic links as links: the pack leaves them out too.
(cd /usr && zip -9 -r -q -y "$work/headers.zip" include)
files=$(cd /usr && find include -type f | wc -l)
echo "zip: $files files, $(stat -c %s "$work/headers.zip") bytes"

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
start=$(date +%s.%N)
unzip -p "$work/headers.zip" > /dev/null
end=$(date +%s.%N)
echo "zip: unzip -p, whole archive: $(seconds "$start" "$end") s"

(cd /usr && find include -type f | sort) | awk -v n="$files" -v s="$sample" \
  'NR % int(n / s) == 0' | head -n "$sample" > "$work/list"
count=$(wc -l < "$work/list")
start=$(date +%s.%N)
while read -r f; do unzip -p "$work/headers.zip" "$f" > /dev/null; done < "$work/list"
end=$(date +%s.%N)
awk -v a="$start" -v b="$end" -v c="$count" -v n="$files" 'BEGIN {
  per = (b - a) * 1000 / c
  printf "zip: unzip -p per file (%d files, one process each): %.2f ms/file, %.1f s for all %d\n", c, per, per * n / 1000, n }' 

"$build/bench/reader/reader_bench" --benchmark_counters_tabular=true
