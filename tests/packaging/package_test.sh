#!/usr/bin/env bash
# Checks what a build installs, as Debian packages or as an install tree:
#   package_test.sh packages SOURCE BUILD [--lintian]
#       makes the packages with cpack, checks their control data and file
#       lists, and unpacks them into a scratch root (dpkg-deb -x);
#   package_test.sh install-tree SOURCE BUILD
#       installs the four components into a scratch root (DESTDIR).
# Then, in that root, nothing installed into the system: the desktop entry
# (desktop-file-validate), the AppStream data (appstreamcli validate), the
# man pages (man --warnings), the icons' sizes and the MIME package; vpf
# --version and a create/extract round trip; crateforge starting and writing
# the user's registration; a host program built through pkg-config and
# through find_package(Tovelink) reading a pack made by vpf; a PhysicsFS
# program built the same two ways walking that pack through
# libtovelink-physfs; vpf mount of that pack compared with its tree (where
# /dev/fuse can be used).
# With --lintian, lintian must report no errors. A missing tool fails.
# CF_PACKAGES names a folder of packages already made from BUILD (by
# scripts/package) to check instead of making them here.
set -euo pipefail
mode=${1:?mode} source=${2:?source folder} build=${3:?build folder} lintian=${4:-}
source=$(cd "$source" && pwd)
build=$(cd "$build" && pwd)

fail() {
  echo "package test: $*" >&2
  exit 1
}
cache() {  # the value of a CMake cache entry of the build
  sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}

cmake_command=$(cache CMAKE_COMMAND)
cxx=$(cache CMAKE_CXX_COMPILER)
prefix=$(cache CMAKE_INSTALL_PREFIX)
libdir=$(cache CMAKE_INSTALL_LIBDIR)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt").0
[ -n "$libdir" ] && [ -n "$prefix" ] && [ "$version" != .0 ] || fail "$build is not a configured build"
cpack_command=$(dirname "$cmake_command")/cpack

tools=(dpkg-deb desktop-file-validate appstreamcli man update-mime-database pkg-config od cmp)
[ "$lintian" = --lintian ] && tools+=(lintian)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is needed (scripts/setup installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/package-test.XXXXXX")
crateforge_pid=
cleanup() {
  [ -n "$crateforge_pid" ] && kill "$crateforge_pid" 2>/dev/null && wait "$crateforge_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
mkdir -p "$root"

# ---- The files, with their owners -------------------------------------------
ma_lib=${libdir#/}
[[ $libdir = /* ]] && fail "an absolute library folder ($libdir) cannot be checked here"
p=${prefix#/}
program_files="
$p/bin/crateforge
$p/bin/vpf
$p/share/applications/crateforge.desktop
$p/share/bash-completion/completions/vpf
$p/share/doc/crateforge/changelog.gz
$p/share/doc/crateforge/copyright
$p/share/icons/hicolor/scalable/apps/crateforge.svg
$p/share/icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg
$p/share/man/man1/crateforge.1.gz
$p/share/man/man1/vpf.1.gz
$p/share/metainfo/example.varnholt.Crateforge.metainfo.xml
$p/share/mime/packages/crateforge.xml"
for size in 16 32 48 64 128 256; do
  program_files+="
$p/share/icons/hicolor/${size}x${size}/apps/crateforge.png
$p/share/icons/hicolor/${size}x${size}/mimetypes/application-x-varnholt-pack.png"
done
runtime_files="
$p/$ma_lib/libtovelink.so.2
$p/$ma_lib/libtovelink.so.2.20.0
$p/share/doc/libtovelink2/changelog.gz
$p/share/doc/libtovelink2/copyright"
dev_files="
$p/$ma_lib/libtovelink.so
$p/$ma_lib/cmake/Tovelink/TovelinkConfig.cmake
$p/$ma_lib/cmake/Tovelink/TovelinkConfigVersion.cmake
$p/$ma_lib/cmake/Tovelink/TovelinkTargets.cmake
$p/$ma_lib/cmake/Tovelink/TovelinkTargets-$(cache CMAKE_BUILD_TYPE | tr 'A-Z' 'a-z').cmake
$p/$ma_lib/pkgconfig/tovelink.pc
$p/share/doc/libtovelink-dev/changelog.gz
$p/share/doc/libtovelink-dev/copyright
$p/include/tovelink/PackReader.h
$p/include/tovelink/tovelink.h
$p/$ma_lib/libtovelink-physfs.so
$p/$ma_lib/libtovelink-physfs.so.2
$p/$ma_lib/libtovelink-physfs.so.2.20.0
$p/$ma_lib/pkgconfig/tovelink-physfs.pc
$p/include/tovelink/physfs.h"

same_list() {  # same_list WHAT EXPECTED ACTUAL: the two lists match as sets
  local expected actual
  expected=$(printf '%s\n' "$2" | sed '/^$/d' | sort)
  actual=$(printf '%s\n' "$3" | sed '/^$/d' | sort)
  [ "$expected" = "$actual" ] || {
    echo "package test: $1: files differ (- expected, + found):" >&2
    diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' | sed 's/^</-/; s/^>/+/' >&2
    exit 1
  }
}

# ---- Packages or install tree -------------------------------------------------
if [ "$mode" = packages ]; then
  [ "$prefix" = /usr ] || fail "packages need a build configured with -DCMAKE_INSTALL_PREFIX=/usr (this one: $prefix)"
  if [ -n "${CF_PACKAGES:-}" ]; then
    mkdir -p "$work/debs"
    cp "$CF_PACKAGES"/*.deb "$work/debs/" || fail "no packages in $CF_PACKAGES"
  else
    "$cpack_command" -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 \
      || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  fi
  arch=$(dpkg --print-architecture)
  declare -A files=([crateforge]=$program_files [libtovelink2]=$runtime_files [libtovelink-dev]=$dev_files)
  same_list "package files" "crateforge_${version}_$arch.deb
libtovelink2_${version}_$arch.deb
libtovelink-dev_${version}_$arch.deb" "$(cd "$work/debs" && ls ./*.deb | sed 's|^\./||')"
  for package in crateforge libtovelink2 libtovelink-dev; do
    deb=$work/debs/${package}_${version}_$arch.deb
    [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not $package"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package has version $(dpkg-deb -f "$deb" Version)"
    same_list "$package" "${files[$package]}" \
      "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||')"
    dpkg-deb -x "$deb" "$root"
  done
  # Dependencies computed from the binaries; the development files pinned to
  # their library.
  depends=$(dpkg-deb -f "$work/debs/crateforge_${version}_$arch.deb" Depends)
  for needed in libc6 libqt6widgets6 libqt6core6 zlib1g libstdc++6 libfuse3-3 fuse3; do
    [[ ", $depends," = *", $needed "* || ", $depends," = *", $needed,"* ]] \
      || fail "crateforge does not depend on $needed: $depends"
  done
  [[ $depends != *libtovelink* ]] || fail "crateforge depends on the library it does not use: $depends"
  depends=$(dpkg-deb -f "$work/debs/libtovelink2_${version}_$arch.deb" Depends)
  [[ $depends = *libc6* && $depends = *zlib1g* ]] || fail "libtovelink2 depends on: $depends"
  # A build that found libdeflate decodes gzip with it, in both packages.
  libdeflate=$(cache LIBDEFLATE_LIBRARY)
  if [[ -n $libdeflate && $libdeflate != *NOTFOUND && $(cache CF_GZIP_DECODER) != zlib ]]; then
    for deb in crateforge libtovelink2; do
      depends=$(dpkg-deb -f "$work/debs/${deb}_${version}_$arch.deb" Depends)
      [[ ", $depends" = *", libdeflate0 "* ]] || fail "$deb does not depend on libdeflate0: $depends"
    done
  fi
  depends=$(dpkg-deb -f "$work/debs/libtovelink-dev_${version}_$arch.deb" Depends)
  [[ $depends = "libtovelink2 (= $version), "* && $depends = *libphysfs1* ]] \
    || fail "libtovelink-dev depends on: $depends"
  # The library's shlibs entry and the loader cache through the trigger; the
  # program's caches through the file triggers of their owners, so it has
  # no maintainer scripts.
  runtime_deb=$work/debs/libtovelink2_${version}_$arch.deb
  [ "$(dpkg-deb -I "$runtime_deb" shlibs)" = "libtovelink 2 libtovelink2 (>= $version)" ] \
    || fail "libtovelink2's shlibs: $(dpkg-deb -I "$runtime_deb" shlibs)"
  for package in libtovelink2 libtovelink-dev; do
    grep -qx 'activate-noawait ldconfig' <(dpkg-deb -I "$work/debs/${package}_${version}_$arch.deb" triggers) \
      || fail "$package does not activate the ldconfig trigger"
  done
  controls=$(dpkg-deb --ctrl-tarfile "$work/debs/crateforge_${version}_$arch.deb" | tar t | sort | tr '\n' ' ')
  [ "$controls" = "./control ./md5sums " ] || fail "crateforge's control files: $controls"
  if [ "$lintian" = --lintian ]; then
    echo "lintian:"
    lintian --allow-root --fail-on error "$work"/debs/*.deb | sed 's/^/  /' \
      || fail "lintian reports errors"
    echo "  (no errors)"
  fi
elif [ "$mode" = install-tree ]; then
  for component in crateforge vpf tovelink_runtime tovelink_dev; do
    DESTDIR=$root "$cmake_command" --install "$build" --component "$component" >/dev/null
  done
  same_list "install tree" "$program_files$runtime_files$dev_files" \
    "$(cd "$root" && find . ! -type d | sed 's|^\./||')"
else
  fail "unknown mode $mode"
fi
usr=$root/$p
lib=$root/$p/$ma_lib

# ---- Desktop files ------------------------------------------------------------
entry=$usr/share/applications/crateforge.desktop
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
[ "$(sed -n 's/^Exec=//p' "$entry")" = "$prefix/bin/crateforge %f" ] \
  || fail "the entry starts $(sed -n 's/^Exec=//p' "$entry")"
out=$(appstreamcli validate --no-net "$usr"/share/metainfo/*.xml 2>&1) || fail "appstreamcli: $out"
for page in "$usr"/share/man/man1/*.1.gz; do
  out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "man --warnings $(basename "$page"): $out"
  [ "$(zcat "$page" | head -c 3)" = ".TH" ] || fail "$page is not a man page"
done
for size in 16 32 48 64 128 256; do
  for png in "$usr"/share/icons/hicolor/${size}x${size}/*/*.png; do
    # Signature, then the IHDR chunk's width and height (big-endian).
    [ "$(od -An -tx1 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is no PNG"
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
  done
done
mkdir -p "$work/mime"
cp -r "$usr/share/mime/packages" "$work/mime/"
update-mime-database "$work/mime" >/dev/null 2>&1
grep -qx 'application/x-varnholt-pack:\*.vpf' <(cut -d: -f2- "$work/mime/globs2") \
  || fail "the MIME package gives no *.vpf glob"

# ---- The programs ---------------------------------------------------------------
export LD_LIBRARY_PATH=$lib
[ "$("$usr/bin/vpf" --version)" = "vpf 2.20 (PackFile version 2.10)" ] \
  || fail "vpf --version: $("$usr/bin/vpf" --version 2>&1)"
tree=$work/tree
mkdir -p "$tree/docs/deep" "$tree/empty"
head -c 200000 /dev/urandom >"$tree/noise.bin"
seq 1 20000 >"$tree/docs/numbers.txt"
printf 'packed\n' >"$tree/docs/deep/note.txt"
: >"$tree/zero.txt"
# vpf stores paths as given; -C takes them from the tree, so they come back
# at the top of the output folder.
"$usr/bin/vpf" create -q "$work/round.vpf" -C "$tree" docs empty noise.bin zero.txt \
  || fail "vpf create failed"
"$usr/bin/vpf" extract -q "$work/round.vpf" -C "$work/out" || fail "vpf extract failed"
diff -r "$tree" "$work/out" >&2 || fail "the extracted tree differs"

# The desktop program starts, and writes the user's files: for a program
# outside the installed place, naming itself, the rest as installed.
home=$work/home
mkdir -p "$home/data" "$home/tmp"
HOME=$home XDG_DATA_HOME=$home/data XDG_DATA_DIRS=$usr/share TMPDIR=$home/tmp \
  XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=offscreen "$usr/bin/crateforge" >"$work/crateforge.log" 2>&1 &
crateforge_pid=$!
for _ in $(seq 1 100); do
  [ -s "$home/data/applications/crateforge.desktop" ] && break
  kill -0 "$crateforge_pid" 2>/dev/null || break
  sleep 0.2
done
sleep 0.5
kill -0 "$crateforge_pid" 2>/dev/null || { cat "$work/crateforge.log" >&2; fail "crateforge did not keep running"; }
kill "$crateforge_pid"
wait "$crateforge_pid" 2>/dev/null || true
crateforge_pid=
[ "$(sed -n 's/^Exec=//p' "$home/data/applications/crateforge.desktop")" = "$usr/bin/crateforge %f" ] \
  || fail "the user's entry starts $(sed -n 's/^Exec=//p' "$home/data/applications/crateforge.desktop")"
cmp -s <(sed 's/^Exec=.*//' "$entry") <(sed 's/^Exec=.*//' "$home/data/applications/crateforge.desktop") \
  || fail "the user's entry differs from the installed one"
for file in mime/packages/crateforge.xml icons/hicolor/scalable/apps/crateforge.svg \
    icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg; do
  cmp -s "$usr/share/$file" "$home/data/$file" || fail "the user's $file differs from the installed one"
done

# A host program through pkg-config, and through the CMake package.
expected=$(cd "$tree" && find docs empty noise.bin zero.txt -type f | sort | while read -r f; do
  printf '%s %s %s\n' "${f//\//\\}" "$(stat -c %s "$f")" \
    "$(od -An -v -tu1 "$f" | awk '{for (i = 1; i <= NF; ++i) s += $i} END {print s % 4294967296}')"
done)
host_source=$source/tests/packaging/host
flags=$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --cflags --libs tovelink) || fail "pkg-config finds no tovelink"
# The .pc file finds its prefix from its own place, so it works unpacked.
pc_include=$(realpath -m "$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --variable=includedir tovelink)")
pc_libdir=$(realpath -m "$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --variable=libdir tovelink)")
[ "$pc_include" = "$(realpath "$usr/include")" ] && [ "$pc_libdir" = "$(realpath "$lib")" ] \
  || fail "pkg-config gives $flags"
# shellcheck disable=SC2086
"$cxx" -std=c++11 -Wall -Wextra -Werror "$host_source/list_pack.cpp" $flags -o "$work/host-pc" \
  || fail "the host program does not build through pkg-config"
"$cmake_command" -S "$host_source" -B "$work/host-cmake" -DCMAKE_PREFIX_PATH="$usr" \
  -DCMAKE_CXX_COMPILER="$cxx" >"$work/host-cmake.log" 2>&1 \
  && "$cmake_command" --build "$work/host-cmake" >>"$work/host-cmake.log" 2>&1 \
  || { cat "$work/host-cmake.log" >&2; fail "the host program does not build through find_package"; }
grep -q "$lib/cmake/Tovelink" "$work/host-cmake/CMakeCache.txt" \
  || fail "find_package found another Tovelink than the unpacked one"
for host in "$work/host-pc" "$work/host-cmake/list_pack"; do
  # Read whole first: grep -q stopping early would fail the pipe.
  loads=$(ldd "$host")
  [[ $loads = *"=> $lib/libtovelink.so.2 "* ]] || { echo "$loads" >&2; fail "$host does not load $lib/libtovelink.so.2"; }
  got=$("$host" "$work/round.vpf" | sort) || fail "$host failed on the pack"
  [ "$got" = "$expected" ] || { diff <(echo "$expected") <(echo "$got") >&2; fail "$host read other bytes"; }
done
# A PhysicsFS program through pkg-config and through the CMake package, on
# a pack made by vpf (gzip and stored files), a copy cut inside its
# directory and a pack whose last file's gzip trailer is spoilt.
physfs_source=$source/tests/physfs
physfs_flags=$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --cflags --libs physfs tovelink-physfs) \
  || fail "pkg-config finds no tovelink-physfs"
[ "$(realpath -m "$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --variable=libdir tovelink-physfs)")" = "$(realpath "$lib")" ] \
  || fail "tovelink-physfs.pc gives $physfs_flags"
cc=$(cache CMAKE_C_COMPILER)
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror -D_DEFAULT_SOURCE "$physfs_source/walk_pack.c" $physfs_flags \
  -o "$work/walk-pc" || fail "the PhysicsFS program does not build through pkg-config"
"$cmake_command" -S "$source/tests/packaging/physfs-host" -B "$work/walk-cmake" -DCMAKE_PREFIX_PATH="$usr" \
  -DCMAKE_C_COMPILER="$cc" -DWALK_PACK_SOURCE="$physfs_source/walk_pack.c" >"$work/walk-cmake.log" 2>&1 \
  && "$cmake_command" --build "$work/walk-cmake" >>"$work/walk-cmake.log" 2>&1 \
  || { cat "$work/walk-cmake.log" >&2; fail "the PhysicsFS program does not build through find_package"; }
mkdir -p "$work/bad/z"
printf 'good\n' >"$work/bad/good.txt"
seq 1 3000 >"$work/bad/z/bad.txt"
"$usr/bin/vpf" create -q "$work/bad.vpf" -C "$work/bad" good.txt z || fail "vpf create failed"
# The last data block is z/bad.txt's gzip member: its trailer goes wrong.
size=$(stat -c %s "$work/bad.vpf")
printf '\377\377\377\377\377\377\377\377' | dd of="$work/bad.vpf" bs=1 seek=$((size - 8)) conv=notrunc status=none
head -c 600 "$work/round.vpf" >"$work/cut.vpf"
for walker in "$work/walk-pc" "$work/walk-cmake/walk_pack"; do
  loads=$(ldd "$walker")
  [[ $loads = *"=> $lib/libtovelink-physfs.so.2 "* ]] || { echo "$loads" >&2; fail "$walker does not load $lib/libtovelink-physfs.so.2"; }
  "$walker" "$work/round.vpf" "$tree" "$work/cut.vpf" "$work/bad.vpf" Z/BAD.TXT >/dev/null \
    || fail "$walker found differences"
done

# vpf mount from the unpacked files.
if [ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ]; then
  mkdir "$work/mnt"
  "$usr/bin/vpf" mount "$work/round.vpf" "$work/mnt" || fail "vpf mount failed"
  diff -r "$tree" "$work/mnt" >&2 || { fusermount3 -u "$work/mnt"; fail "the mounted pack differs from its tree"; }
  fusermount3 -u "$work/mnt" || fail "fusermount3 -u failed"
else
  echo "package test: vpf mount not tried: /dev/fuse cannot be used here"
fi
echo "package test ($mode): passed"
