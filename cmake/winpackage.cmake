# The portable zip and the installer from the deployed folder:
#   hv52-io-tools-VERSION-win64.zip   the folder as it is, to unpack anywhere
#   hv52-io-tools-VERSION-setup.exe   NSIS, Chinese, for all users
# Run with -P it writes the installer's file lists (every file installed is
# named, so the uninstaller removes exactly those) and calls makensis:
#   cmake -DSTAGE=dir -DNSI=installer.nsi -DLISTS=dir -DMAKENSIS=... -P winpackage.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_policy(VERSION 3.22)
  file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/*)
  list(SORT files)
  set(install "")
  set(remove "")
  set(dirs)
  set(size 0)
  set(current "")
  foreach(f ${files})
    get_filename_component(dir ${f} DIRECTORY)
    string(REPLACE "/" "\\" windir "${dir}")
    string(REPLACE "/" "\\" winfile "${f}")
    if(NOT dir STREQUAL current OR install STREQUAL "")
      set(install "${install}SetOutPath \"$INSTDIR\\${windir}\"\n")
      set(current "${dir}")
    endif()
    set(install "${install}File \"${STAGE}/${f}\"\n")
    set(remove "${remove}Delete \"$INSTDIR\\${winfile}\"\n")
    file(SIZE ${STAGE}/${f} bytes)
    math(EXPR size "${size} + ${bytes}")
    # Each folder on the way, deepest removed first.
    while(dir)
      list(APPEND dirs ${dir})
      get_filename_component(dir ${dir} DIRECTORY)
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES dirs)
  list(SORT dirs)
  list(REVERSE dirs)
  foreach(dir ${dirs})
    string(REPLACE "/" "\\" windir "${dir}")
    set(remove "${remove}RMDir \"$INSTDIR\\${windir}\"\n")
  endforeach()
  math(EXPR kb "(${size} + 1023) / 1024")
  file(WRITE ${LISTS}/install-files.nsh "${install}")
  file(WRITE ${LISTS}/uninstall-files.nsh "${remove}")
  file(WRITE ${LISTS}/size.nsh "!define ESTIMATED_SIZE_KB ${kb}\n")
  execute_process(COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 ${NSI} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "makensis failed on ${NSI}")
  endif()
  return()
endif()

find_program(HV52_MAKENSIS makensis)
set(HV52_ZIP ${PROJECT_BINARY_DIR}/${HV52_PACKAGE_NAME}.zip)
set(HV52_SETUP ${PROJECT_BINARY_DIR}/hv52-io-tools-${PROJECT_VERSION}-setup.exe)
add_custom_command(OUTPUT ${HV52_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${HV52_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${HV52_ZIP} --format=zip -- ${HV52_PACKAGE_NAME}
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  DEPENDS ${HV52_STAGE}.deployed
  COMMENT "Portable zip ${HV52_PACKAGE_NAME}.zip"
  VERBATIM)
set(package_outputs ${HV52_ZIP})
if(HV52_MAKENSIS)
  set(HV52_NSIS_STAGE ${HV52_STAGE})
  set(HV52_NSIS_LISTS ${PROJECT_BINARY_DIR}/nsis)
  set(HV52_NSIS_OUT ${HV52_SETUP})
  set(HV52_NSIS_ICON ${PROJECT_SOURCE_DIR}/windows/hv52.ico)
  configure_file(${PROJECT_SOURCE_DIR}/windows/installer.nsi.in ${HV52_NSIS_LISTS}/installer.nsi @ONLY)
  add_custom_command(OUTPUT ${HV52_SETUP}
    COMMAND ${CMAKE_COMMAND} -DSTAGE=${HV52_STAGE} -DNSI=${HV52_NSIS_LISTS}/installer.nsi
            -DLISTS=${HV52_NSIS_LISTS} -DMAKENSIS=${HV52_MAKENSIS} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${HV52_STAGE}.deployed ${PROJECT_SOURCE_DIR}/windows/installer.nsi.in ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Installer hv52-io-tools-${PROJECT_VERSION}-setup.exe"
    VERBATIM)
  list(APPEND package_outputs ${HV52_SETUP})
else()
  message(STATUS "makensis not found: no installer (Debian package nsis)")
endif()
add_custom_target(hv52_winpackage DEPENDS ${package_outputs})
