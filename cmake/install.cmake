# Install rules and the Debian packages.
#
#   cmake --install build [--prefix /usr/local] [--component tools|simulator]
#   cpack --config build/CPackConfig.cmake      (scripts/package.sh does it all)
#
# Component "tools": the commissioning programs, the package hv52-io-tools.
# Component "simulator": hv52sim, for benches without a module, in its own
# package hv52-io-tools-sim so that a meter's PC does not get it.
include(GNUInstallDirs)

set(HV52_TOOL_TARGETS cfg_t516 cfg_t540 cfg_t528)
if(TARGET hv52ctl)
  list(APPEND HV52_TOOL_TARGETS hv52ctl)
endif()
install(TARGETS ${HV52_TOOL_TARGETS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS hv52sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator)

# Builds only what is installed: a package build configured with
# -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON skips the tests and benchmarks.
add_custom_target(hv52_installed)
add_dependencies(hv52_installed ${HV52_TOOL_TARGETS} hv52sim)

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
