# Read by cpack before it packs. The library's folder was fixed when
# configuring; packed below another prefix it would land in the wrong place.
if(NOT CPACK_CF_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR
    "The packages install below ${CPACK_PACKAGING_INSTALL_PREFIX}, but this build was "
    "configured for ${CPACK_CF_CONFIGURED_PREFIX} (library folder ${CPACK_CF_CONFIGURED_LIBDIR}). "
    "Configure with -DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX} to make packages.")
endif()
