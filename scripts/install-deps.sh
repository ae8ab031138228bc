#!/usr/bin/env bash
# Installs the Debian 12 packages the tools, the simulator, the tests and the
# demo need, when any of them is missing. Needs root (or sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev libqt6test6 qt6-qpa-plugins libgl-dev
  # Chinese text in the windows and screenshots
  fonts-noto-cjk fonts-wqy-zenhei
  # Qt's own texts (file dialog, overwrite question) in Chinese: qtbase_zh_CN.qm
  qt6-translations-l10n
  # windows without a screen, synthetic clicks, screenshots
  xvfb xauth xdotool x11-utils imagemagick
  # end-to-end runs: the windows read back through the accessibility bus, a
  # window closed as a window manager closes it (Debian's own python3)
  python3 python3-pyatspi at-spi2-core dbus-daemon dbus-bin python3-xlib
  # the commissioning record printed for signing: headless Chromium makes the
  # PDF and the screenshot, poppler reads the PDF back
  chromium poppler-utils
  # a third-party Modbus master to check the simulator against
  mbpoll
  # fuzzing and the sanitizer build
  clang libclang-rt-14-dev
  # bench_ctl only: a libmodbus master beside hv52ctl on the same line
  libmodbus-dev
  # the Debian packages: dpkg-shlibdeps finds their library dependencies, file
  # tells cpack which files are programs
  dpkg-dev file
  # the manual pages (English and Chinese) from their sources in docs/man/,
  # built without network when the packages are made
  scdoc
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
