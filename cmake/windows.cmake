# The Windows build, cross-built with MinGW-w64 by scripts/windows.sh:
# each program's version resource, icon and manifest; the windows as GUI
# programs (no console); the unit tests that Wine runs; the programs with
# everything they load in one folder (cmake/windeploy.cmake); the portable
# zip and the installer (cmake/winpackage.cmake).
enable_language(RC)

set(HV52_WINDOWS_PROGRAMS cfg_t516 cfg_t540 cfg_t528 hv52ctl hv52line)
set(HV52_DESCRIPTION_cfg_t516 "T516 I/O 扩展模块配置工具")
set(HV52_DESCRIPTION_cfg_t540 "T540 I/O 扩展模块配置工具")
set(HV52_DESCRIPTION_cfg_t528 "T528 I/O 扩展模块配置工具")
set(HV52_DESCRIPTION_hv52ctl "HV52 I/O 扩展模块命令行工具")
set(HV52_DESCRIPTION_hv52line "HV52 I/O 扩展模块线路调试")

string(REPLACE "." "," HV52_RC_VERSION_COMMAS "${PROJECT_VERSION}.0")
set(HV52_RC_ICON ${PROJECT_SOURCE_DIR}/windows/hv52.ico)
set(HV52_RC_MANIFEST ${PROJECT_SOURCE_DIR}/windows/hv52.manifest)
foreach(program ${HV52_WINDOWS_PROGRAMS})
  set(HV52_RC_NAME ${program})
  set(HV52_RC_DESCRIPTION "${HV52_DESCRIPTION_${program}}")
  configure_file(${PROJECT_SOURCE_DIR}/windows/program.rc.in ${PROJECT_BINARY_DIR}/windows/${program}.rc @ONLY)
  target_sources(${program} PRIVATE ${PROJECT_BINARY_DIR}/windows/${program}.rc)
  set_property(SOURCE ${PROJECT_BINARY_DIR}/windows/${program}.rc APPEND PROPERTY
               OBJECT_DEPENDS ${HV52_RC_ICON} ${HV52_RC_MANIFEST})
endforeach()
set_target_properties(cfg_t516 cfg_t540 cfg_t528 hv52line PROPERTIES WIN32_EXECUTABLE ON)

# The unit tests that need no serial line, built from the Linux suite's own
# sources; tests/windows/ runs them under Wine from the Linux build.
set(HV52_WINDOWS_TESTS)
function(hv52_windows_test name source)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/tests/${source})
  target_link_libraries(${name} PRIVATE ${ARGN} Qt6::Test)
  list(APPEND HV52_WINDOWS_TESTS ${name})
  set(HV52_WINDOWS_TESTS ${HV52_WINDOWS_TESTS} PARENT_SCOPE)
endfunction()
hv52_windows_test(tst_link_frames link/tst_frames.cpp hv52link)
hv52_windows_test(tst_analoglimit t516/tst_analoglimit.cpp hv52t516module)
hv52_windows_test(tst_kinds kinds/tst_kinds.cpp hv52kinds)
hv52_windows_test(tst_controls t516/tst_controls.cpp hv52t516 hv52t528 hv52t540)

include(${CMAKE_CURRENT_LIST_DIR}/windeploy.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/winpackage.cmake)
