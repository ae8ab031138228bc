#!/usr/bin/env bash
# The installer under Wine: a silent install (/S) into a fresh prefix puts the
# tools in Program Files with their Start-menu entries and an Apps & features
# entry; the installed cfg_t516.exe 1 3 9600 polls hv52sim through COM3; the
# silent uninstall leaves no file, folder or entry of it behind.
source "$(dirname "$0")/wine.sh"
setup=$WINDOWS_BUILD/hv52-io-tools-1.0.0-setup.exe
[ -f "$setup" ] || fail "$setup is missing"
wine_init
drive=$WINEPREFIX/drive_c
product="HV52 IO 扩展模块工具"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\hv52-io-tools'
# Every file and folder of the prefix outside Wine's own scratch places.
listing() {
    (cd "$drive" && find . -path ./windows -prune -o -path './users/*/Temp' -prune -o -print | sort)
}
listing >"$work/before.txt"

cp "$setup" "$work/setup.exe"
"$WINE" "$work/setup.exe" /S || fail "the silent install exited with $?"
wineserver -w
installed="$drive/Program Files/$product"
for f in cfg_t516.exe cfg_t540.exe cfg_t528.exe hv52ctl.exe hv52line.exe Qt6Core.dll platforms/qwindows.dll \
         translations/qtbase_zh_CN.qm qt.conf 说明/操作说明.html 卸载.exe; do
    [ -f "$installed/$f" ] || fail "not installed: $f"
done
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/$product"
for f in 线路调试.lnk 操作说明.lnk 命令行工具说明.lnk; do
    [ -f "$menu/$f" ] || fail "no Start-menu entry $f"
done
"$WINE" reg query "$key" >"$work/key.txt" 2>&1 || fail "no Apps & features entry"
for value in DisplayName DisplayVersion Publisher UninstallString QuietUninstallString EstimatedSize; do
    grep -q "$value" "$work/key.txt" || fail "the Apps & features entry has no $value"
done
grep -q '1\.0\.0' "$work/key.txt" || fail "the Apps & features entry names no version"
# reg prints what is not ASCII as "?": the saved registry has it as \xNNNN.
publisher=$(python3 -c 'print("".join(c if ord(c) < 128 else "\\x%x" % ord(c) for c in "HV52 IO 扩展模块工具开发组"))')
grep -qF "\"Publisher\"=\"$publisher\"" "$WINEPREFIX/system.reg" ||
    { grep -F '"Publisher"' "$WINEPREFIX/system.reg" >&2; fail "the publisher is not $publisher"; }

start_screen 1024x768x24
start_sim --module t516 --dir "$work" --port 3 --no-demo
retry 100 test -e "$work/com3" || fail "hv52sim made no com3"
map_com 3
poll_window "$installed"
{ wineserver -k; wait "$tool_pid"; } 2>/dev/null || true
wineserver -w

# What Qt's file dialog keeps of a record saved: the uninstaller removes it.
"$WINE" reg add 'HKCU\Software\QtProject\OrganizationDefaults\FileDialog' /v lastVisited /d 'file:///C:/' /f \
    >/dev/null 2>&1 || fail "could not write the file dialog's key"
"$WINE" "$installed/卸载.exe" /S || fail "the silent uninstall exited with $?"
# The uninstaller runs on from a copy of itself in the temporary folder.
wineserver -w
listing >"$work/after.txt"
diff -u "$work/before.txt" "$work/after.txt" || fail "the uninstaller left the files above"
if "$WINE" reg query "$key" >/dev/null 2>&1; then fail "the Apps & features entry is still there"; fi
if "$WINE" reg query 'HKCU\Software\QtProject' >/dev/null 2>&1; then fail "HKCU\Software\QtProject is still there"; fi
echo "wine_installer: $(find "$installed" -type f 2>/dev/null | wc -l) files left of the install; its cfg_t516.exe polled"
