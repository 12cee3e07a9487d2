# What a suite vendor takes away: PelLoader.dll, pelhost.exe and pelcheck.exe with version
# resources.

set(PEL_VENDOR "PelLoader project")
set(PEL_COPYRIGHT "Copyright (C) 2026 PelLoader project")

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
