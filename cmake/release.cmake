# What a suite vendor takes away: PelLoader.dll, pelhost.exe and pelcheck.exe with version
# resources, pel_plugin.h, the sample plug-ins' sources with a CMake project that builds them
# against that header, and the guides. `cmake --install` lays it out; CPack packs it into
# PelLoader-<version>-<win32|win64>.zip (scripts/release.sh).

set(PEL_VENDOR "PelLoader project")
set(PEL_COPYRIGHT "Copyright (C) 2026 PelLoader project")
if(PEL_WIN32)
  set(PEL_PACKAGE_ARCH win32)
else()
  set(PEL_PACKAGE_ARCH win64)
endif()

# pel_version_resource(<target> <description>): the project's version, what the module is and
# whose it is, in the module's version resource.
function(pel_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(PEL_RC_FILE_TYPE VFT_DLL)
    set(PEL_RC_FILE_NAME ${target}${CMAKE_SHARED_LIBRARY_SUFFIX})
  else()
    set(PEL_RC_FILE_TYPE VFT_APP)
    set(PEL_RC_FILE_NAME ${target}${CMAKE_EXECUTABLE_SUFFIX})
  endif()
  set(PEL_RC_NAME ${target})
  set(PEL_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

pel_version_resource(PelLoader "PelLoader plug-in loader")
pel_version_resource(pelhost "PelLoader command-line host")
pel_version_resource(pelcheck "PelLoader suite checker")

# The import library stays behind: hosts load PelLoader.dll and call it by ordinal.
install(TARGETS PelLoader pelhost pelcheck
        RUNTIME DESTINATION bin
        ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
install(FILES include/pel_plugin.h DESTINATION include)
install(DIRECTORY samples/ DESTINATION samples
        FILES_MATCHING PATTERN "*.txt" PATTERN "*.cpp" PATTERN "*.h" PATTERN "*.def")
install(FILES docs/plugin-guide.md docs/suite-guide.md docs/store-and-install.md docs/pelcheck.md
        DESTINATION doc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/release-readme.txt.in ${CMAKE_BINARY_DIR}/README.txt
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_VENDOR ${PEL_VENDOR})
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${PEL_PACKAGE_ARCH})
# The build keeps its debugging information; the package's modules are stripped.
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR ZIP)
include(CPack)
