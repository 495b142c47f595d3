# Install step of the desktop files (see builder/CMakeLists.txt). Gets
# cf_desktop_files, cf_bindir, cf_datadir and cf_stage from there.
foreach(dir bindir datadir)
  if(IS_ABSOLUTE "${cf_${dir}}")
    set(cf_full_${dir} "${cf_${dir}}")
  else()
    set(cf_full_${dir} "${CMAKE_INSTALL_PREFIX}/${cf_${dir}}")
  endif()
endforeach()

file(REMOVE_RECURSE "${cf_stage}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
    "${cf_desktop_files}" register "${cf_full_bindir}/crateforge" "${cf_stage}"
  RESULT_VARIABLE cf_result)
if(NOT cf_result EQUAL 0)
  message(FATAL_ERROR "The desktop files could not be written (${cf_result})")
endif()

foreach(file
    applications/crateforge.desktop
    mime/packages/crateforge.xml
    icons/hicolor/scalable/apps/crateforge.svg
    icons/hicolor/scalable/mimetypes/application-x-varnholt-pack.svg)
  get_filename_component(dir "${file}" DIRECTORY)
  if(NOT EXISTS "${cf_stage}/${file}")
    message(FATAL_ERROR "The desktop files lack ${file}")
  endif()
  file(INSTALL DESTINATION "${cf_full_datadir}/${dir}" TYPE FILE
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    FILES "${cf_stage}/${file}")
endforeach()
