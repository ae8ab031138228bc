# Install rules and the Debian packages.
#
#   cmake --install build [--prefix /usr/local] [--component tools|simulator]
#   cpack --config build/CPackConfig.cmake      (scripts/package.sh does it all)
#
# Component "tools": the commissioning programs, the package hv52-io-tools.
# Component "simulator": hv52sim, for benches without a module, in its own
# package hv52-io-tools-sim so that a meter's PC does not get it.
include(GNUInstallDirs)

set(HV52_TOOL_TARGETS cfg_t516 cfg_t540 cfg_t528 hv52line)
if(TARGET hv52ctl)
  list(APPEND HV52_TOOL_TARGETS hv52ctl)
endif()
install(TARGETS ${HV52_TOOL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS hv52sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)

# Builds only what is installed: a package build configured with
# -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON skips the tests and benchmarks.
add_custom_target(hv52_installed)
add_dependencies(hv52_installed ${HV52_TOOL_TARGETS} hv52sim)

# Manual pages, English and Chinese, from their scdoc sources in docs/man/
# (docs/man/zh_CN/ for Chinese): scdoc turns each into roff and gzip -9n
# packs it without a name or a time stamp, at build time and without network.
# Without scdoc the programs build and install as before, without pages.
# The release's date: the Debian changelog entry's, and the date the pages
# show (scdoc takes it from SOURCE_DATE_EPOCH), so a rebuild gives the same
# bytes.
set(HV52_PACKAGE_DATE "Mon, 07 Dec 2026 12:00:00 +0000"
    CACHE STRING "Date of the release: the Debian changelog entry and the manual pages (RFC 2822)")
execute_process(COMMAND date -d "${HV52_PACKAGE_DATE}" +%s OUTPUT_VARIABLE HV52_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(HV52_SCDOC_ENV)
if(HV52_RELEASE_EPOCH MATCHES "^[0-9]+$")
  set(HV52_SCDOC_ENV SOURCE_DATE_EPOCH=${HV52_RELEASE_EPOCH})
endif()
find_program(HV52_SCDOC scdoc)
find_program(HV52_GZIP gzip)
set(HV52_MAN_TOOLS hv52ctl cfg_t516 cfg_t540 cfg_t528 hv52line)
set(HV52_MAN_SIMULATOR hv52sim)
if(HV52_SCDOC AND HV52_GZIP)
  set(pages)
  foreach(lang en zh_CN)
    if(lang STREQUAL en)
      set(source_dir ${PROJECT_SOURCE_DIR}/docs/man)
      set(out_dir ${PROJECT_BINARY_DIR}/man/man1)
      set(install_dir ${CMAKE_INSTALL_MANDIR}/man1)
    else()
      set(source_dir ${PROJECT_SOURCE_DIR}/docs/man/${lang})
      set(out_dir ${PROJECT_BINARY_DIR}/man/${lang}/man1)
      set(install_dir ${CMAKE_INSTALL_MANDIR}/${lang}/man1)
    endif()
    foreach(page ${HV52_MAN_TOOLS} ${HV52_MAN_SIMULATOR})
      set(source ${source_dir}/${page}.1.scd)
      set(out ${out_dir}/${page}.1.gz)
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
        COMMAND ${CMAKE_COMMAND} -E env ${HV52_SCDOC_ENV}
                sh -c "\"$0\" < \"$1\" | \"$2\" -9n > \"$3.tmp\" && mv \"$3.tmp\" \"$3\""
                ${HV52_SCDOC} ${source} ${HV52_GZIP} ${out}
        DEPENDS ${source}
        COMMENT "Manual page ${lang}/${page}.1"
        VERBATIM)
      list(APPEND pages ${out})
      if(page IN_LIST HV52_MAN_SIMULATOR)
        install(FILES ${out} DESTINATION ${install_dir} COMPONENT simulator)
      elseif(TARGET ${page})
        install(FILES ${out} DESTINATION ${install_dir} COMPONENT tools)
      endif()
    endforeach()
  endforeach()
  add_custom_target(hv52_manpages ALL DEPENDS ${pages})
  add_dependencies(hv52_installed hv52_manpages)
else()
  message(STATUS "scdoc not found: the manual pages are not built (Debian package scdoc)")
endif()

# Bash completion of hv52ctl: commands, options, module kinds, reset entries,
# relay commands and file names.
if(TARGET hv52ctl)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/hv52ctl.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME hv52ctl COMPONENT tools)
endif()

# The guides for the field go with the tools, the screenshots they show
# beside them; each package carries its copyright file and Debian changelog.
set(HV52_DOC_TOOLS ${CMAKE_INSTALL_DATADIR}/doc/hv52-io-tools)
set(HV52_DOC_SIMULATOR ${CMAKE_INSTALL_DATADIR}/doc/hv52-io-tools-sim)
install(FILES ${PROJECT_SOURCE_DIR}/docs/操作说明.md ${PROJECT_SOURCE_DIR}/docs/命令行工具.md
        DESTINATION ${HV52_DOC_TOOLS} COMPONENT tools)
file(GLOB HV52_SCREENSHOTS ${PROJECT_SOURCE_DIR}/docs/screenshots/*.png)
install(FILES ${HV52_SCREENSHOTS} DESTINATION ${HV52_DOC_TOOLS}/screenshots COMPONENT tools)

# The Debian revision of these packages; the changelog names it.
set(HV52_DEBIAN_REVISION 1)
set(HV52_COPYRIGHT_HOLDER "2026 HV52 I/O tools maintainers"
    CACHE STRING "Copyright line of the packages' copyright file")
# No licence is published for these tools: the copyright file says so. Set
# HV52_LICENSE_NAME and HV52_LICENSE_TEXT (the text, its lines indented by one
# space, "." for an empty line; -DHV52_LICENSE_TEXT=... or a cache preload
# script) when one is chosen.
set(HV52_LICENSE_NAME "proprietary" CACHE STRING "License short name in the packages' copyright file")
if(NOT DEFINED HV52_LICENSE_TEXT)
  set(HV52_LICENSE_TEXT [=[ All rights reserved. These programs are distributed with the HV52
 three-phase power meter for commissioning its I/O expansion modules; no
 licence to redistribute or modify them is granted by this package.]=])
endif()
# The copyright file in Debian's machine-readable format 1.0.
file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: hv52-io-tools
Upstream-Contact: ${HV52_PACKAGE_MAINTAINER}

Files: *
Copyright: ${HV52_COPYRIGHT_HOLDER}
License: ${HV52_LICENSE_NAME}
${HV52_LICENSE_TEXT}
")
# One changelog entry per package, for this version.
foreach(package hv52-io-tools hv52-io-tools-sim)
  file(WRITE ${PROJECT_BINARY_DIR}/debian/${package}/changelog.Debian
"${package} (${PROJECT_VERSION}-${HV52_DEBIAN_REVISION}) stable; urgency=medium

  * Release ${PROJECT_VERSION}: cfg_t516, cfg_t540 and cfg_t528 with the line
    monitor and the commissioning record, hv52ctl with line commissioning
    and gateways, hv52sim; manual pages in English and Chinese.

 -- ${HV52_PACKAGE_MAINTAINER}  ${HV52_PACKAGE_DATE}
")
endforeach()
if(HV52_GZIP)
  set(changelogs)
  foreach(package hv52-io-tools hv52-io-tools-sim)
    set(plain ${PROJECT_BINARY_DIR}/debian/${package}/changelog.Debian)
    add_custom_command(OUTPUT ${plain}.gz
      COMMAND sh -c "\"$0\" -9n < \"$1\" > \"$1.gz\"" ${HV52_GZIP} ${plain}
      DEPENDS ${plain}
      COMMENT "Debian changelog of ${package}"
      VERBATIM)
    list(APPEND changelogs ${plain}.gz)
  endforeach()
  add_custom_target(hv52_changelogs ALL DEPENDS ${changelogs})
  add_dependencies(hv52_installed hv52_changelogs)
  install(FILES ${PROJECT_BINARY_DIR}/debian/hv52-io-tools/changelog.Debian.gz
          DESTINATION ${HV52_DOC_TOOLS} COMPONENT tools)
  install(FILES ${PROJECT_BINARY_DIR}/debian/hv52-io-tools-sim/changelog.Debian.gz
          DESTINATION ${HV52_DOC_SIMULATOR} COMPONENT simulator)
endif()
# lintian's one warning left: a first Debian upload should close the bug that
# announced it. These packages are not uploaded to Debian; none was filed.
foreach(package hv52-io-tools hv52-io-tools-sim)
  file(WRITE ${PROJECT_BINARY_DIR}/debian/${package}/lintian-overrides
"# Not uploaded to Debian: no bug announces it, none can be closed.
${package}: initial-upload-closes-no-bugs
")
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/debian/hv52-io-tools/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME hv52-io-tools COMPONENT tools)
install(FILES ${PROJECT_BINARY_DIR}/debian/hv52-io-tools-sim/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME hv52-io-tools-sim COMPONENT simulator)
install(FILES ${PROJECT_BINARY_DIR}/debian/copyright DESTINATION ${HV52_DOC_TOOLS} COMPONENT tools)
install(FILES ${PROJECT_BINARY_DIR}/debian/copyright DESTINATION ${HV52_DOC_SIMULATOR} COMPONENT simulator)

set(HV52_PACKAGE_MAINTAINER "HV52 I/O tools maintainers <hv52-io-tools@example.com>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hv52-io-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${HV52_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools simulator)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # hv52-io-tools_1.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# A Debian revision makes the packages non-native: changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${HV52_DEBIAN_REVISION})
# Library dependencies from dpkg-shlibdeps (dpkg-dev), added to those below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME hv52-io-tools)
# Qt loads its platform plugins at run time, out of dpkg-shlibdeps' sight
# (Debian 12 has the X11 one in libqt6gui6, the others and fontconfig come
# with qt6-qpa-plugins); the windows are all Chinese text, which needs a CJK
# font, and Qt's own texts (the file dialog) come in Chinese from Qt's
# translations.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-cjk | fonts-wqy-zenhei, qt6-translations-l10n")
# The first line is the summary; CPack indents the rest as the long description.
set(CPACK_DEBIAN_TOOLS_DESCRIPTION [=[HV52 I/O module configuration tools / HV52 I/O 扩展模块配置工具
cfg_t516, cfg_t540 and cfg_t528 commission the T516, T540 and T528 I/O
expansion modules of the HV52 three-phase power meter over a Modbus RTU
serial line: they read the digital inputs, relays and analog outputs and
set the relays, input modes and analog outputs.

cfg_t516、cfg_t540 和 cfg_t528 通过 Modbus RTU 串口调试 HV52 三相电能表的
T516、T540、T528 I/O 扩展模块：召测开关量输入、继电器和模拟量输出，
设置继电器、输入方式和模拟量输出。]=])

set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME hv52-io-tools-sim)
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION [=[Simulated HV52 I/O module / HV52 I/O 扩展模块模拟器
hv52sim simulates one T516, T540 or T528 module as a Modbus RTU slave on a
pseudo-terminal, for trying the tools without a meter.

hv52sim 在伪终端上模拟一个 T516、T540 或 T528 模块（Modbus RTU 从站），
无需电能表即可试用配置工具。]=])

include(CPack)
