#!/usr/bin/env bash
# Qt 6.4.2 for Windows (x86_64, MinGW-w64), built from source for scripts/windows.sh when no
# cache and no tarball has it: Debian's own qt6-base source (the version of Debian 12's Qt, so
# moc, rcc and uic come from qt6-base-dev) and the QtSerialPort source in third_party/.
# About half an hour on two cores.
#   bash scripts/qt-windows.sh CACHE_DIR        # makes CACHE_DIR/qt6-win
# Qt is installed into CACHE_DIR/qt6-win.partial and renamed to qt6-win only when whole, so an
# interrupted build never leaves a Qt that looks finished. Sources and build trees stay in
# CACHE_DIR/qt6-win.build until then: a second run goes on where the first stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
cache=${1:?usage: qt-windows.sh CACHE_DIR}
version=6.4.2
serialport=$repo/third_party/qtserialport/qtserialport-everywhere-src-$version.tar.xz
serialport_sha256=fb98dc5a4a4aef663510adc3e488e03383c0dbbca45e93c6a674e49eeab501c5

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

packages=(g++-mingw-w64-x86-64-posix qt6-base-dev cmake ninja-build perl dpkg-dev xz-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The host tools generate code for the target's Qt: another version would not fit it.
host=$(dpkg-query -W -f='${Version}' qt6-base-dev)
case $host in
  "$version"+*) ;;
  *) echo "Qt for Windows: qt6-base-dev is $host, the Windows build needs Qt $version" >&2; exit 1 ;;
esac

# The deb-src entries for the mirror and suite this machine installs from, one a line, from
# both the one-line and the deb822 formats.
deb_src_entries() {
  local codename=$1
  local lists=() sources=()
  [ -f /etc/apt/sources.list ] && lists+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && lists+=("$f"); done
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && sources+=("$f"); done
  [ ${#lists[@]} -eq 0 ] || awk -v suite="$codename" '
    $1 == "deb" {
      i = 2; opts = ""
      if ($i ~ /^\[/) { while ($i !~ /\]$/) opts = opts $(i++) " "; opts = opts $(i++) " " }
      if ($(i + 1) != suite) next
      line = "deb-src " opts $i " " suite
      for (j = i + 2; j <= NF; j++) line = line " " $j
      print line
    }' "${lists[@]}"
  [ ${#sources[@]} -eq 0 ] || awk -v suite="$codename" '
    BEGIN { RS = ""; FS = "\n" }
    {
      delete f
      for (n = 1; n <= NF; n++) {
        if ($n ~ /^#/ || $n !~ /^[A-Za-z-]+:/) continue
        key = tolower(substr($n, 1, index($n, ":") - 1)); f[key] = substr($n, index($n, ":") + 1)
        gsub(/^[ \t]+|[ \t]+$/, "", f[key])
      }
      if (tolower(f["enabled"]) == "no" || (" " f["types"] " ") !~ / deb / ||
          (" " f["suites"] " ") !~ (" " suite " ")) next
      opts = f["signed-by"] ~ /^\// ? "[signed-by=" f["signed-by"] "] " : ""
      split(f["uris"], uris, /[ \t]+/)
      for (u in uris) print "deb-src " opts uris[u] " " suite " " f["components"]
    }' "${sources[@]}"
}

# apt-get source needs a deb-src entry: add one of our own for the mirror already in use.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -q '^Package: qt6-base$'; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  entries=$(deb_src_entries "$codename" | sort -u)
  if [ -z "$entries" ]; then
    echo "Qt for Windows: no Debian mirror for $codename in /etc/apt/sources.list*, so no qt6-base source" >&2
    exit 1
  fi
  list=/etc/apt/sources.list.d/hv52-deb-src.list
  echo "adding the qt6-base source's mirror to $list: $entries"
  printf '# Debian sources, for the Qt that scripts/qt-windows.sh builds\n%s\n' "$entries" | $SUDO tee "$list" >/dev/null
  $SUDO apt-get update -qq
fi

work=$cache/qt6-win.build
partial=$cache/qt6-win.partial
$SUDO mkdir -p "$work"
$SUDO rm -rf "$partial"
$SUDO mkdir -p "$partial"
[ -z "$SUDO" ] || $SUDO chown "$(id -u):$(id -g)" "$work" "$partial"
cd "$work"

# A failing step's output is in its log; the step's last lines say why.
step() {
  local log=$work/$1.log
  shift
  "$@" >"$log" 2>&1 || { tail -n 30 "$log" >&2; echo "Qt for Windows: failed, see $log" >&2; exit 1; }
}

# Only the upstream tarball of Debian's source: Debian's patches are for its Linux build.
orig=qt6-base_$version+dfsg.orig.tar.xz
if [ ! -f "$orig" ]; then
  echo "downloading Debian's qt6-base source"
  step download apt-get source --download-only qt6-base
fi
src=$work/qtbase-everywhere-src-$version
if [ ! -d "$src" ]; then
  rm -rf src.tmp && mkdir src.tmp
  tar xJf "$orig" -C src.tmp
  # Qt 6.4.2's Windows platform plugin calls OpenGL code under dynamicgl even when opengl is off.
  window=src.tmp/qtbase-everywhere-src-$version/src/plugins/platforms/windows/qwindowswindow.cpp
  sed -i '/^static inline bool isSoftwareGl/,/^#endif/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$window"
  grep -q '^#if QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)$' "$window" ||
    { echo "Qt for Windows: the OpenGL guard no longer applies to $window" >&2; exit 1; }
  mv "src.tmp/qtbase-everywhere-src-$version" "$src"
  rmdir src.tmp
fi
cp "$repo/cmake/mingw-w64.toolchain.cmake" "$work/"

echo "configuring qtbase"
# Debian's source has no wintab.h (src/3rdparty/wintab is removed): no tablet events.
step configure-base cmake -S "$src" -B build-base -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/mingw-w64.toolchain.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$partial" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_openssl=OFF -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF \
  -DFEATURE_gif=OFF -DFEATURE_tabletevent=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF
echo "building qtbase"
cmake --build build-base --parallel
step install-base cmake --install build-base

# Qt's toolchain file names the MinGW one by the path it was configured with; a copy beside it,
# found relative to itself, keeps the installed Qt working wherever it is moved to.
qtcmake=$partial/lib/cmake/Qt6
cp "$repo/cmake/mingw-w64.toolchain.cmake" "$qtcmake/"
sed -i 's|^set(__qt_initially_configured_toolchain_file ".*")$|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/mingw-w64.toolchain.cmake")|' \
  "$qtcmake/qt.toolchain.cmake"
grep -qF 'set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/mingw-w64.toolchain.cmake")' \
  "$qtcmake/qt.toolchain.cmake" ||
  { echo "Qt for Windows: $qtcmake/qt.toolchain.cmake does not name its MinGW toolchain as expected" >&2; exit 1; }

echo "$serialport_sha256  $serialport" | sha256sum -c --quiet - >/dev/null 2>&1 ||
  { echo "Qt for Windows: $serialport is not the QtSerialPort $version source (sha256 differs)" >&2; exit 1; }
rm -rf "qtserialport-everywhere-src-$version" build-serialport
tar xJf "$serialport"
echo "building qtserialport"
step configure-serialport cmake -S "qtserialport-everywhere-src-$version" -B build-serialport -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$qtcmake/qt.toolchain.cmake" -DCMAKE_BUILD_TYPE=Release
cmake --build build-serialport --parallel
step install-serialport cmake --install build-serialport

cd "$cache"
$SUDO rm -rf qt6-win
$SUDO mv qt6-win.partial qt6-win
$SUDO rm -rf "$work"
echo "Qt for Windows built into $cache/qt6-win"
