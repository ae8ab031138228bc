# Puts Windows programs in one folder with everything they load: the DLLs
# they import, found from their own import tables (objdump -p) and followed
# recursively, so no list of DLLs is kept by hand; Qt's windows platform
# plugin, style and icon reader (loaded at run time, out of the import
# tables' sight); Qt's Chinese translation and a qt.conf that finds it.
#
# Included by cmake/windows.cmake it defines the targets; run with -P it does
# the work:
#   cmake -DDEST=dir -DFILES="a.exe;b.exe" -DSEARCH="dir;dir" -DOBJDUMP=...
#         -DPLUGINS="platforms/qwindows.dll;..." -DPLUGIN_DIR=... -DQM=... -DQT_CONF=...
#         -P windeploy.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.22)
  file(REMOVE_RECURSE ${DEST})
  file(MAKE_DIRECTORY ${DEST})
  set(queue)
  foreach(f ${FILES})
    file(COPY ${f} DESTINATION ${DEST})
    get_filename_component(n ${f} NAME)
    list(APPEND queue ${DEST}/${n})
  endforeach()
  foreach(p ${PLUGINS})
    get_filename_component(sub ${p} DIRECTORY)
    file(COPY ${PLUGIN_DIR}/${p} DESTINATION ${DEST}/${sub})
    list(APPEND queue ${DEST}/${p})
  endforeach()
  if(QM)
    file(COPY ${QM} DESTINATION ${DEST}/translations)
  endif()
  if(QT_CONF)
    file(COPY ${QT_CONF} DESTINATION ${DEST})
  endif()
  # Each PE file's imports; a DLL found in SEARCH goes beside the programs
  # and has its own imports followed. Not found there: a system DLL
  # (KERNEL32.dll, ws2_32.dll...), which Windows has.
  set(done)
  while(queue)
    list(POP_FRONT queue pe)
    execute_process(COMMAND ${OBJDUMP} -p ${pe} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "objdump could not read ${pe}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    foreach(line ${imports})
      string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
      string(STRIP "${dll}" dll)
      string(TOLOWER "${dll}" key)
      if(key IN_LIST done)
        continue()
      endif()
      list(APPEND done ${key})
      set(found)
      foreach(dir ${SEARCH})
        if(EXISTS ${dir}/${dll})
          set(found ${dir}/${dll})
          break()
        endif()
      endforeach()
      if(found)
        file(COPY ${found} DESTINATION ${DEST})
        list(APPEND queue ${DEST}/${dll})
      elseif(dll MATCHES "^(Qt6|lib)")
        # A Qt or MinGW DLL must come along; Windows has no copy of it.
        message(FATAL_ERROR "${pe} imports ${dll}, found in none of: ${SEARCH}")
      endif()
    endforeach()
  endwhile()
  return()
endif()

find_program(HV52_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
# Debian's python3, which has python3-markdown, before any other on PATH.
find_program(HV52_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(HV52_PYTHON NAMES python3 REQUIRED)
# Where the MinGW runtime DLLs are: the compiler knows its own libraries.
set(HV52_DLL_SEARCH ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
foreach(dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(dir "${path}" DIRECTORY)
  if(IS_ABSOLUTE "${dir}")
    list(APPEND HV52_DLL_SEARCH ${dir})
  endif()
endforeach()
list(REMOVE_DUPLICATES HV52_DLL_SEARCH)
set(HV52_PLUGIN_DIR ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})
# Qt's Chinese translation comes from the build machine's Qt (Debian's
# qt6-translations-l10n): the same version, and the Windows Qt has none.
find_file(HV52_QTBASE_QM qtbase_zh_CN.qm PATHS /usr/share/qt6/translations NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(HV52_PACKAGE_NAME hv52-io-tools-${PROJECT_VERSION}-win64)
set(HV52_STAGE ${PROJECT_BINARY_DIR}/${HV52_PACKAGE_NAME})
set(HV52_TEST_STAGE ${PROJECT_BINARY_DIR}/wine-tests)

set(programs)
foreach(program ${HV52_WINDOWS_PROGRAMS})
  list(APPEND programs $<TARGET_FILE:${program}>)
endforeach()
set(guides ${PROJECT_SOURCE_DIR}/docs/操作说明.md ${PROJECT_SOURCE_DIR}/docs/命令行工具.md)
file(GLOB screenshots ${PROJECT_SOURCE_DIR}/docs/screenshots/*.png ${PROJECT_SOURCE_DIR}/docs/screenshots/windows/*.png)
add_custom_command(OUTPUT ${HV52_STAGE}.deployed
  COMMAND ${CMAKE_COMMAND} -DDEST=${HV52_STAGE} "-DFILES=${programs}" "-DSEARCH=${HV52_DLL_SEARCH}"
          -DOBJDUMP=${HV52_OBJDUMP} -DPLUGIN_DIR=${HV52_PLUGIN_DIR}
          "-DPLUGINS=platforms/qwindows.dll;styles/qwindowsvistastyle.dll;imageformats/qico.dll"
          -DQM=${HV52_QTBASE_QM} -DQT_CONF=${PROJECT_SOURCE_DIR}/windows/qt.conf
          -P ${CMAKE_CURRENT_LIST_FILE}
  # The guides as HTML with their screenshots: readable with what Windows has.
  COMMAND ${HV52_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/guide-html.py ${HV52_STAGE}/说明 ${guides}
  COMMAND ${CMAKE_COMMAND} -E touch ${HV52_STAGE}.deployed
  DEPENDS ${HV52_WINDOWS_PROGRAMS} ${guides} ${screenshots} ${PROJECT_SOURCE_DIR}/scripts/guide-html.py
          ${PROJECT_SOURCE_DIR}/windows/qt.conf ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "The programs with their DLLs, plugins and guides in ${HV52_PACKAGE_NAME}/"
  VERBATIM)
add_custom_target(hv52_deploy ALL DEPENDS ${HV52_STAGE}.deployed)

# The unit tests in a folder of their own, with the offscreen platform for
# the window test.
set(tests)
foreach(test ${HV52_WINDOWS_TESTS})
  list(APPEND tests $<TARGET_FILE:${test}>)
endforeach()
add_custom_command(OUTPUT ${HV52_TEST_STAGE}.deployed
  COMMAND ${CMAKE_COMMAND} -DDEST=${HV52_TEST_STAGE} "-DFILES=${tests}" "-DSEARCH=${HV52_DLL_SEARCH}"
          -DOBJDUMP=${HV52_OBJDUMP} -DPLUGIN_DIR=${HV52_PLUGIN_DIR}
          "-DPLUGINS=platforms/qoffscreen.dll;platforms/qwindows.dll"
          -DQT_CONF=${PROJECT_SOURCE_DIR}/windows/qt.conf
          -P ${CMAKE_CURRENT_LIST_FILE}
  COMMAND ${CMAKE_COMMAND} -E touch ${HV52_TEST_STAGE}.deployed
  DEPENDS ${HV52_WINDOWS_TESTS} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "The unit tests for Wine with their DLLs in wine-tests/"
  VERBATIM)
add_custom_target(hv52_deploy_tests ALL DEPENDS ${HV52_TEST_STAGE}.deployed)
