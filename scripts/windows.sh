#!/usr/bin/env bash
# The tools for Windows, cross-built here: installs what is missing (MinGW-w64,
# Wine, NSIS...), takes Qt for Windows into the cache, builds cfg_t516.exe,
# cfg_t540.exe, cfg_t528.exe and hv52ctl.exe into build-win/ with everything
# they load, and makes the installer and the portable zip.
#   bash scripts/windows.sh [BUILD_DIR]
# Qt for Windows is cached under $HV52_QT_WINDOWS (default /var/cache/hv52),
# unpacked from the tarball in ../shared/qt-windows/ (or $HV52_QT_TARBALL), or
# where there is none built from source by scripts/qt-windows.sh (about half an
# hour).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}

packages=(
  cmake ninja-build qt6-base-dev qt6-translations-l10n
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  # the Windows programs under Wine, their windows under Xvfb
  wine wine64 xvfb xauth xdotool x11-utils imagemagick fonts-noto-cjk
  # the installer, the portable zip, the guides as HTML
  nsis zip unzip python3-markdown
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cache=${HV52_QT_WINDOWS:-/var/cache/hv52}
qt=$cache/qt6-win
if [ ! -x "$qt/bin/qt-cmake" ]; then
  tarball=${HV52_QT_TARBALL:-$(cd .. && pwd)/shared/qt-windows/qt-6.4.2-mingw-w64-x86_64.tar.xz}
  if [ -f "$tarball" ]; then
    SUDO=
    [ -w "$(dirname "$cache")" ] || [ -w "$cache" ] || [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO mkdir -p "$cache"
    echo "unpacking Qt for Windows into $cache"
    # Unpacked beside the cache and renamed when whole: an interrupted unpack leaves no qt6-win.
    $SUDO rm -rf "$cache/qt6-win.unpack" "$qt"
    $SUDO mkdir "$cache/qt6-win.unpack"
    $SUDO tar xJf "$tarball" -C "$cache/qt6-win.unpack"
    $SUDO mv "$cache/qt6-win.unpack/qt6-win" "$qt"
    $SUDO rmdir "$cache/qt6-win.unpack"
  else
    echo "Qt for Windows not found in $qt nor as $tarball:"
    echo "building it from source into $cache (about half an hour on two cores)"
    bash scripts/qt-windows.sh "$cache"
  fi
fi

start=$(date +%s)
"$qt/bin/qt-cmake" -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$dir"
ninja -C "$dir" hv52_winpackage
echo "Windows build: $(( $(date +%s) - start )) s"

for f in "$dir"/hv52-io-tools-*-setup.exe "$dir"/hv52-io-tools-*-win64.zip; do
  [ -f "$f" ] && printf '%s  %s bytes (%s)\n' "$(realpath "$f")" "$(stat -c %s "$f")" "$(du -h "$f" | cut -f1)"
done
