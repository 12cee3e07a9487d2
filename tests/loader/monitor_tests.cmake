# The monitor notification, driven against real windows of other processes. Window classes are
# global to the Wine prefix, so these tests take turns with everything else that makes the
# suite's windows.
set(_monitor_depends expertframe qxmonxp)
foreach(_target VemmBase QXInstall)
  if(TARGET ${_target})
    list(APPEND _monitor_depends ${_target})
  endif()
endforeach()

add_executable(test_monitor_notify test_monitor_notify.cpp)
target_link_libraries(test_monitor_notify PRIVATE gtest_main pel_test_support pel_loader)
add_dependencies(test_monitor_notify ${_monitor_depends})
gtest_discover_tests(test_monitor_notify
  DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 120
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120 RESOURCE_LOCK suite_windows)
