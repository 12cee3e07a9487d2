# The monitor notification, driven against real windows of other processes. Window classes are
# global to the Wine prefix, so these tests take turns with everything else that makes the
# suite's windows.
set(_monitor_depends expertframe qxmonxp)
foreach(_target VemmBase QXInstall)
  if(TARGET ${_target})
    list(APPEND _monitor_depends ${_target})
  endif()
endforeach()

pel_add_gtest(test_monitor_notify SOURCES test_monitor_notify.cpp LIBS pel_loader
              DEPENDS ${_monitor_depends} LOCK suite_windows END_TO_END)
