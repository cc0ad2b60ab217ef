# cpack, from the windows build: a zip the player unpacks into the game
# folder, with the updater, a sample Config.ini and a short README.txt.
# cpack stages the installed files and our own zip writer (tools/package-zip,
# built for the host machine beside the cross build) packs them.
if(NOT WIN32)
  return()
endif()

set(TV_PACKAGE_VERSION 1.0.0)
set(TV_PACKAGE_TEXTS ${CMAKE_BINARY_DIR}/package-texts)
# Notepad-friendly line ends.
configure_file(${PROJECT_SOURCE_DIR}/packaging/Config.ini ${TV_PACKAGE_TEXTS}/Config.ini
               @ONLY NEWLINE_STYLE WIN32)
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt ${TV_PACKAGE_TEXTS}/README.txt
               @ONLY NEWLINE_STYLE WIN32)

if(TARGET torvane-update)
  install(TARGETS torvane-update RUNTIME DESTINATION .)
endif()
install(FILES ${TV_PACKAGE_TEXTS}/Config.ini ${TV_PACKAGE_TEXTS}/README.txt DESTINATION .)

# The zip writer is a host program: a project of its own, configured with
# the host's compiler rather than the cross toolchain.
include(ExternalProject)
set(TV_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/host-tools/package-zip)
ExternalProject_Add(package-zip-host
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/package-zip
  BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS TRUE
  BUILD_BYPRODUCTS ${TV_PACKAGE_ZIP})

set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/package_zip.cmake)
set(CPACK_TV_PACKAGE_ZIP ${TV_PACKAGE_ZIP})
set(CPACK_PACKAGE_NAME torvane-update)
set(CPACK_PACKAGE_VERSION ${TV_PACKAGE_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
include(CPack)
