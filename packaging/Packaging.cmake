# Debian packages through CPack (cpack -G DEB in the build folder; see
# scripts/package). Three packages from the four install components:
#   crateforge        the desktop program and the vpf tool (crateforge, vpf)
#   libtovelink2      the reader library to run host programs (tovelink_runtime)
#   libtovelink-dev   what building a host program needs (tovelink_dev)
# Their dependencies are computed from the binaries (dpkg-shlibdeps): libc6,
# zlib1g and, in a build that found libdeflate (CF_GZIP_DECODER), libdeflate0
# for the desktop program, vpf and the library; Qt for the desktop program. The
# MIME, desktop-entry and icon caches are rebuilt by the file triggers that
# shared-mime-info, desktop-file-utils and the hicolor icon theme declare
# on their folders, so the packages carry no maintainer scripts of their
# own for them; the library package's shlibs file and ldconfig call come
# from CPack.
#
# The packages install below /usr, and the library's folder is the one
# GNUInstallDirs chose when configuring: configure with
# -DCMAKE_INSTALL_PREFIX=/usr to get the multiarch lib/<triplet> folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME crateforge)
set(CPACK_PACKAGE_VENDOR "Varnholt Software")
set(CPACK_PACKAGE_CONTACT "Varnholt Software <support@varnholt.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.varnholt.example/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackProjectConfig.cmake)
# Read back by CPackProjectConfig.cmake (only CPACK_ variables reach it),
# which refuses a layout made for another prefix.
set(CPACK_CF_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_CF_CONFIGURED_LIBDIR ${CMAKE_INSTALL_LIBDIR})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL crateforge vpf tovelink_runtime tovelink_dev)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE crateforge)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Where dpkg-shlibdeps finds the library when a binary of the build needs it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/reader
  ${PROJECT_BINARY_DIR}/physfs)

# crateforge: the program and the tool. vpf mount needs fusermount3 (from
# fuse3) to mount for a user; libfuse3-3 comes from the binaries.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME crateforge)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "fuse3")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
  "desktop program and command-line tool for pack files
Crateforge packs a tree of folders and files into one pack file (.vpf) in
which every file is compressed on its own, so that a single file comes back
without the others being touched.

This package holds the desktop program crateforge (Qt 6), which creates,
opens, converts, edits and extracts packs, and the command-line tool vpf
for scripts, which also mounts a pack as a read-only file system (FUSE).
Packs of the old version 1.03 are read and converted.")

# libtovelink2: the reader library.
set(CPACK_DEBIAN_TOVELINK_RUNTIME_PACKAGE_NAME libtovelink2)
set(CPACK_DEBIAN_TOVELINK_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for the packages built against it (only a package with a
# shared library gets one), and the loader cache refreshed by the ldconfig
# trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
configure_file(${CMAKE_CURRENT_LIST_DIR}/libtovelink2.triggers
  ${CMAKE_CURRENT_BINARY_DIR}/libtovelink2/triggers COPYONLY)
set(CPACK_DEBIAN_TOVELINK_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/libtovelink2/triggers)
set(CPACK_DEBIAN_TOVELINK_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_TOVELINK_RUNTIME_DESCRIPTION
  "library reading pack files (.vpf)
Tovelink lets a host program open a pack file of version 2.10 or 1.03, look
its files up by path or by index and have them decoded into memory, one
file at a time.

This package holds the shared library.")

# libtovelink-dev: the development files, and the PhysicsFS archiver
# (libtovelink-physfs, which needs libphysfs1: from the binaries).
set(CPACK_DEBIAN_TOVELINK_DEV_PACKAGE_NAME libtovelink-dev)
set(CPACK_DEBIAN_TOVELINK_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOVELINK_DEV_PACKAGE_DEPENDS "libtovelink2 (= ${CPACK_PACKAGE_VERSION})")
# It holds a shared library too, so the loader cache is refreshed for it.
set(CPACK_DEBIAN_TOVELINK_DEV_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/libtovelink2/triggers)
set(CPACK_DEBIAN_TOVELINK_DEV_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_TOVELINK_DEV_DESCRIPTION
  "library reading pack files (.vpf) - development files
Tovelink lets a host program open a pack file of version 2.10 or 1.03, look
its files up by path or by index and have them decoded into memory, one
file at a time.

This package holds the headers tovelink/PackReader.h (the C++ class) and
tovelink/tovelink.h (the C interface, for C hosts and other languages),
the CMake package
(find_package(Tovelink)) and the pkg-config file tovelink.pc, and the
PhysicsFS archiver libtovelink-physfs (header tovelink/physfs.h,
tovelink-physfs.pc), which lets programs that read their data through
PhysicsFS mount packs as they mount zip files.")

include(CPack)

cpack_add_component_group(programs)
cpack_add_component(crateforge GROUP programs)
cpack_add_component(vpf GROUP programs)
cpack_add_component(tovelink_runtime)
cpack_add_component(tovelink_dev DEPENDS tovelink_runtime)
