# CheckLayers.cmake - fails when a lower folder of the tree reaches up.
#
#   cmake -DTOP=<source tree> -P CheckLayers.cmake
#
# The folders form layers, lowest first:
#   platform   failures (Fault.h), the operating-system calls, the desktop seam
#   codec      the compressors; above platform for its native calls
#              (huge-page hints on the decode buffers)
#   format     records, names, the directory walker, the entry decoder
#   archive    the builder's logic without widgets
#   reader, builder, tools   the three deliverables; none includes another
# A file may include its own folder and any lower one, and a CMakeLists.txt
# may link its own folder's targets and lower ones. tests/, bench/ and fuzz/
# sit above everything and are not checked. Every offence is printed as
#   layers: <file> includes <header> (<why>)
#   layers: <file> links <target> (<why>)
# and the script ends with an error when there was one.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED TOP)
  message(FATAL_ERROR "usage: cmake -DTOP=<source tree> -P CheckLayers.cmake")
endif()

set(layer_platform 0)
set(layer_codec 1)
set(layer_format 2)
set(layer_archive 3)
set(layer_reader 4)
set(layer_builder 4)
set(layer_tools 4)
set(folders platform codec format archive reader builder tools)
# Include roots that belong to a folder under another name: the PhysicsFS
# archiver's public header lives in reader/physfs/tovelink/.
set(root_tovelink reader)

# Which folder each library or program target of ours is defined in.
set(target_cf_native platform)
set(target_cf_platform platform)
set(target_cf_platform_scripted platform)
set(target_cf_codec codec)
set(target_cf_format format)
set(target_cf_archive archive)
set(target_tovelink_core reader)
set(target_tovelink reader)
set(target_tovelink_physfs reader)
set(target_cf_builder builder)
set(target_crateforge builder)
set(target_crateforge_desktop_files builder)
set(target_vpf_core tools)
set(target_vpf tools)

set(offences 0)

# Why folder `from` may not use folder `to`, in `${out}`; empty when it may.
function(reach_offence from to out)
  if(from STREQUAL to OR layer_${to} LESS layer_${from})
    set(${out} "" PARENT_SCOPE)
  elseif(layer_${to} EQUAL layer_${from})
    set(${out} "${from} and ${to} never use each other" PARENT_SCOPE)
  else()
    set(${out} "${to} is above ${from}" PARENT_SCOPE)
  endif()
endfunction()

foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources RELATIVE "${TOP}" LIST_DIRECTORIES false
    "${TOP}/${folder}/*.h" "${TOP}/${folder}/*.cpp" "${TOP}/${folder}/*.c")
  list(SORT sources)
  foreach(source IN LISTS sources)
    file(STRINGS "${TOP}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*" "\\1" header "${line}")
      if(NOT header MATCHES "/")
        continue()  # beside the including file, or the system's
      endif()
      string(REGEX REPLACE "/.*" "" root "${header}")
      if(DEFINED root_${root})
        set(root "${root_${root}}")
      endif()
      if(line MATCHES "include[ \t]*<" AND NOT DEFINED layer_${root})
        continue()  # <sys/stat.h>, <gtest/gtest.h>: not ours
      endif()
      if(NOT DEFINED layer_${root})
        message("layers: ${source} includes ${header} (${root}/ is no layer of the programs)")
        math(EXPR offences "${offences} + 1")
        continue()
      endif()
      reach_offence(${folder} ${root} why)
      if(why)
        message("layers: ${source} includes ${header} (${why})")
        math(EXPR offences "${offences} + 1")
      endif()
    endforeach()
  endforeach()

  file(GLOB_RECURSE lists RELATIVE "${TOP}" LIST_DIRECTORIES false
    "${TOP}/${folder}/CMakeLists.txt")
  list(SORT lists)
  foreach(list_file IN LISTS lists)
    file(READ "${TOP}/${list_file}" text)
    string(REGEX MATCHALL "target_link_libraries[ \t]*\\([^)]*\\)" calls "${text}")
    foreach(call IN LISTS calls)
      string(REGEX REPLACE "^target_link_libraries[ \t]*\\(" "" call "${call}")
      string(REGEX REPLACE "\\)$" "" call "${call}")
      string(REGEX REPLACE "[ \t\r\n]+" ";" words "${call}")
      list(POP_FRONT words linking)
      foreach(word IN LISTS words)
        if(NOT DEFINED target_${word})
          continue()  # a keyword or a library not of ours
        endif()
        reach_offence(${folder} ${target_${word}} why)
        if(why)
          message("layers: ${list_file} links ${word} (${why})")
          math(EXPR offences "${offences} + 1")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(offences GREATER 0)
  message(FATAL_ERROR "layers: ${offences} reach(es) from a lower folder to a higher one")
endif()
message("layers: every include and link goes down")
