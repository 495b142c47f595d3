#!/bin/sh
# Packs a tree of files with vpf (stored and gzip entries, names in mixed
# case, an empty file, nested folders) and with the sample tool (LZRW3-A, in
# a "2.10" and a "1.03" pack), then has the C host and the C++ host compare
# every byte of every pack with the tree, and the C host refuse a cut pack,
# a file that is no pack and a missing one, a pack rewritten since it was
# opened, and report a damaged entry with its offset.
#   tree_hosts_test.sh VPF SAMPLE_TOOL C_HOST CXX_HOST
# HOST_RUNNER (for instance "wine") runs the hosts through a program; they
# are then given paths relative to the work folder, their current folder.
set -eu
vpf=$1 sample=$2 c_host=$3 cxx_host=$4
runner=${HOST_RUNNER:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tree-hosts.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() {
  echo "tree_hosts_test: $*" >&2
  exit 1
}

# Runs a host; its output (carriage returns dropped) goes to "out".
host() {
  # shellcheck disable=SC2086
  $runner "$@" >out 2>err || { cat out err >&2; fail "$* failed"; }
  tr -d '\r' <out >out.txt
}

mkdir -p tree/Data/Levels tree/Data/Sounds
i=0
while [ $i -lt 3000 ]; do
  echo "Line $i of the level, with the same words again and again."
  i=$((i + 1))
done >tree/Data/Levels/One.MAP
head -c 70000 /dev/urandom >tree/Data/Sounds/Noise.BIN
printf 'Read me first.\n' >tree/ReadMe.txt
: >tree/Data/empty.txt
printf 'MiXeD case name\n%.0s' 1 2 3 4 5 6 7 8 >tree/Data/Levels/MiXeD.Case.txt
files=$(find tree -type f | wc -l)

"$vpf" create -q tree.vpf -C tree . || fail "vpf create failed"
methods=$("$vpf" list -l tree.vpf)
case $methods in *gzip*) ;; *) fail "no gzip entry in: $methods" ;; esac
case $methods in *stored*) ;; *) fail "no stored entry in: $methods" ;; esac
"$sample" . tree || fail "the sample tool failed"

for pack in tree.vpf lzrw.vpf lzrw.dat; do
  for h in "$c_host" "$cxx_host"; do
    host "$h" $pack tree
    grep -qx "$files files, [0-9]* bytes equal" out.txt \
      || fail "$(basename "$h") on $pack: $(cat out.txt) (expected $files files)"
  done
done

# Refusals: a pack cut short, a file that is no pack, no file at all.
head -c 100 tree.vpf >cut.vpf
for bad in cut.vpf tree/ReadMe.txt missing.vpf; do
  host "$c_host" --refuse $bad
  test -s out.txt || fail "no reason given for $bad"
done
grep -q "offset" out.txt && fail "a missing file is no damage: $(cat out.txt)"
host "$c_host" --refuse cut.vpf
grep -q " at offset [0-9]" out.txt || fail "the cut pack's reason has no offset: $(cat out.txt)"

# A pack rewritten in place (another size, another time) after it was
# opened: every read fails rather than return the other pack's bytes.
cp tree.vpf changing.vpf
host "$c_host" --replaced changing.vpf lzrw.vpf

# A one-file pack whose gzip member (the file's last bytes) has a wrong
# checksum: it opens, and the entry is refused as damage.
"$vpf" create -q one.vpf -C tree/Data/Levels One.MAP || fail "vpf create failed"
size=$(wc -c <one.vpf)
byte=$(od -An -tu1 -j $((size - 8)) -N1 one.vpf | tr -d ' ')
# shellcheck disable=SC2059
printf "\\$(printf %03o $((byte ^ 255)))" | dd of=one.vpf bs=1 seek=$((size - 8)) conv=notrunc 2>/dev/null
host "$c_host" --damaged one.vpf one.map
echo "tree_hosts_test: every byte equal in 3 packs of $files files, refusals reported"
