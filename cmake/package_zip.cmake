# Run by cpack (External generator) once the files are staged: the staged
# folder becomes the player's zip, its files at the top of the archive.
if(NOT EXISTS "${CPACK_TV_PACKAGE_ZIP}")
  message(FATAL_ERROR "the zip writer ${CPACK_TV_PACKAGE_ZIP} is not built: "
                      "build the windows preset first")
endif()
set(_tv_zip "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
execute_process(
  COMMAND "${CPACK_TV_PACKAGE_ZIP}" "${_tv_zip}" "${CPACK_TEMPORARY_DIRECTORY}"
  RESULT_VARIABLE _tv_result)
if(NOT _tv_result EQUAL 0)
  message(FATAL_ERROR "package-zip failed (${_tv_result})")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES "${_tv_zip}")
