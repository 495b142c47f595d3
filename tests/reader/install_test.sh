#!/bin/sh
# Installs the library's two components (runtime, development files) into a
# temporary prefix, builds the host
# program outside the build tree against the installed files (CMake package
# and pkg-config), and runs both builds on sample packs.
#   install_test.sh CMAKE BUILD_DIR HOST_SOURCE SAMPLE_PACK_TOOL CXX [EXTRA_FLAGS] C_HOST_SOURCE
set -eu
cmake_cmd=$1 build=$2 host_src=$3 sample=$4 cxx=$5 extra=${6:-} c_host=${7:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/tovelink-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

for component in tovelink_runtime tovelink_dev; do
  "$cmake_cmd" --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
# The runtime component alone is the versioned library and nothing else
# (but its package's copyright and changelog).
"$cmake_cmd" --install "$build" --prefix "$work/runtime" --component tovelink_runtime >/dev/null
runtime_files=$(cd "$work/runtime" && find . ! -type d ! -path './share/doc/*' | sed 's|.*/||' |
  sort | tr '\n' ' ')
test "$runtime_files" = "libtovelink.so.2 libtovelink.so.2.20.0 " \
  || { echo "runtime component holds: $runtime_files" >&2; exit 1; }
for f in include/tovelink/PackReader.h include/tovelink/tovelink.h; do
  test -f "$prefix/$f" || { echo "missing $f" >&2; exit 1; }
done
lib=$(find "$prefix" -name 'libtovelink.so.2' | head -n1)
test -n "$lib" || { echo "libtovelink.so.2 not installed" >&2; exit 1; }
libdir=$(dirname "$lib")
test -L "$libdir/libtovelink.so" || { echo "no libtovelink.so link" >&2; exit 1; }
# Only the reader's files are installed (and the PhysicsFS archiver's,
# which comes with the development files when PhysicsFS was found).
unexpected=$(cd "$prefix" && find . -type f ! -path './share/doc/*' | grep -v -e '/tovelink/PackReader.h$' -e '/tovelink/tovelink.h$' \
  -e '/libtovelink.so.2.20.0$' -e '/cmake/Tovelink/' -e '/pkgconfig/tovelink.pc$' \
  -e '/tovelink/physfs.h$' -e '/libtovelink-physfs.so.2.20.0$' -e '/pkgconfig/tovelink-physfs.pc$' \
  || true)
test -z "$unexpected" || { echo "unexpected installed files: $unexpected" >&2; exit 1; }

mkdir -p "$work/tree/Maps"
seq 1 2000 >"$work/tree/Maps/Numbers.txt"
printf 'plain\n' >"$work/tree/plain.txt"
"$sample" "$work" "$work/tree"

# 1. CMake package.
"$cmake_cmd" -S "$host_src" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$extra" -DCMAKE_BUILD_TYPE=Debug >/dev/null
"$cmake_cmd" --build "$work/cmake-build" >/dev/null
"$work/cmake-build/host" "$work/sample.vpf" "$work/sample.dat"
ldd "$work/cmake-build/host" | grep -q "$libdir/libtovelink.so.2" \
  || { echo "cmake host does not use the installed library" >&2; exit 1; }

# 2. pkg-config and a plain compiler call.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs tovelink)
# shellcheck disable=SC2086
"$cxx" -std=c++11 -Wall -Wextra -Wpedantic -Werror $extra "$host_src/host.cpp" $flags -o "$work/host-pc"
LD_LIBRARY_PATH="$libdir" "$work/host-pc" "$work/sample.vpf" "$work/sample.dat"
LD_LIBRARY_PATH="$libdir" ldd "$work/host-pc" | grep -q "$libdir/libtovelink.so.2" \
  || { echo "pkg-config host does not use the installed library" >&2; exit 1; }
# 3. A C99 host on the C interface, through pkg-config.
# shellcheck disable=SC2086
"${CC:-cc}" -std=c99 -Wall -Wextra -Wpedantic -Werror $extra -I"$prefix/include/tovelink" \
  "$c_host" $flags -o "$work/c-host"
LD_LIBRARY_PATH="$libdir" "$work/c-host" "$work/lzrw.vpf" "$work/tree" >/dev/null \
  || { echo "the C host failed on the installed library" >&2; exit 1; }
echo "install test: the three hosts passed"
