# PlantedReaches.cmake - CheckLayers.cmake names every upward reach planted
# in a small tree and lets every downward one pass.
#
#   cmake -DWORK=<empty scratch folder> -DCHECK=<CheckLayers.cmake> -P PlantedReaches.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")

# Downward and sideways-within-a-folder uses: none may be named.
file(WRITE "${WORK}/platform/Fault.h" "#include <string>\n#include <sys/stat.h>\n")
file(WRITE "${WORK}/codec/Lzrw.cpp" "#include \"codec/Lzrw.h\"\n#include \"platform/NativeFile.h\"\n")
file(WRITE "${WORK}/format/PackFormat.cpp" "#include \"PackFormat.h\"\n#include \"codec/Lzrw.h\"\n")
file(WRITE "${WORK}/reader/physfs/Archiver.cpp" "#include \"tovelink/physfs.h\"\n")
file(WRITE "${WORK}/tools/main.cpp" "  #  include \"archive/PackArchive.h\"\n")
file(WRITE "${WORK}/archive/CMakeLists.txt"
  "target_link_libraries(cf_archive PUBLIC cf_platform\n  cf_codec cf_format ZLIB::ZLIB)\n")

# Upward and sibling reaches: each must be named.
file(WRITE "${WORK}/platform/FileLock.h" "#include \"format/ByteSource.h\"\n")
file(WRITE "${WORK}/codec/GzCodec.cpp" "#include \"format/Fault.h\"\n")
file(WRITE "${WORK}/format/Names.h" "#include \"archive/PackEntry.h\"\n")
file(WRITE "${WORK}/codec/Lzrw.h" "#include <reader/PackReader.h>\n")
file(WRITE "${WORK}/tools/Verbs.cpp" "#include \"builder/BuilderDlg.h\"\n")
file(WRITE "${WORK}/reader/PackIndex.cpp" "#include \"tests/support/TestPacks.h\"\n")
file(WRITE "${WORK}/platform/CMakeLists.txt"
  "target_link_libraries(cf_platform\n  PUBLIC cf_format)\n")
file(WRITE "${WORK}/builder/CMakeLists.txt" "target_link_libraries(cf_builder PRIVATE vpf_core)\n")

execute_process(COMMAND "${CMAKE_COMMAND}" -DTOP=${WORK} -P "${CHECK}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(out "${out}${err}")

set(expected
  "codec/GzCodec.cpp includes format/Fault.h (format is above codec)"
  "codec/Lzrw.h includes reader/PackReader.h (reader is above codec)"
  "format/Names.h includes archive/PackEntry.h (archive is above format)"
  "platform/FileLock.h includes format/ByteSource.h (format is above platform)"
  "platform/CMakeLists.txt links cf_format (format is above platform)"
  "reader/PackIndex.cpp includes tests/support/TestPacks.h (tests/ is no layer of the programs)"
  "builder/CMakeLists.txt links vpf_core (builder and tools never use each other)"
  "tools/Verbs.cpp includes builder/BuilderDlg.h (tools and builder never use each other)"
  "layers: 8 reach(es) from a lower folder to a higher one")
set(failed FALSE)
if(rc EQUAL 0)
  message("the check passed a tree with eight upward reaches")
  set(failed TRUE)
endif()
foreach(line IN LISTS expected)
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    message("not named: ${line}")
    set(failed TRUE)
  endif()
endforeach()
string(REGEX MATCHALL "layers: [^\n]*(includes|links)[^\n]*" named "${out}")
list(LENGTH named count)
if(NOT count EQUAL 8)
  message("named ${count} reaches, 8 planted")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "output of the check:\n${out}")
endif()
