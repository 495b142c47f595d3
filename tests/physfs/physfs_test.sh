#!/bin/sh
# Installs the development component into a temporary prefix, builds the
# PhysicsFS program walk_pack.c outside the build tree through pkg-config
# (physfs and the installed tovelink-physfs.pc), and runs it on the sample
# tree and its packs.
#   physfs_test.sh CMAKE BUILD_DIR SOURCE_DIR MAKE_SAMPLE CC [EXTRA_FLAGS]
set -eu
cmake_cmd=$1 build=$2 src=$3 make_sample=$4 cc=$5 extra=${6:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/physfs-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$cmake_cmd" --install "$build" --prefix "$work/prefix" --component tovelink_dev >/dev/null
pc=$(find "$work/prefix" -name tovelink-physfs.pc)
test -n "$pc" || { echo "tovelink-physfs.pc is not installed" >&2; exit 1; }
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
flags=$(pkg-config --cflags --libs physfs tovelink-physfs)
libdir=$(pkg-config --variable=libdir tovelink-physfs)
test "$(realpath "$libdir")" = "$(realpath "$(dirname "$pc")/..")" \
  || { echo "tovelink-physfs.pc points at $libdir" >&2; exit 1; }
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -D_DEFAULT_SOURCE $extra "$src/walk_pack.c" $flags \
  -o "$work/walk_pack"
LD_LIBRARY_PATH=$libdir ldd "$work/walk_pack" | grep -q "$libdir/libtovelink-physfs.so.2" \
  || { echo "walk_pack does not load the installed libtovelink-physfs" >&2; exit 1; }

mkdir "$work/sample"
"$make_sample" "$work/sample"
s=$work/sample
LD_LIBRARY_PATH=$libdir "$work/walk_pack" "$s/sample.vpf" "$s/tree" "$s/damaged.vpf" \
  "$s/bad-entry.vpf" Z/BAD.TXT
