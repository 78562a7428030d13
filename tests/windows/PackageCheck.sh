#!/bin/sh
# The Windows packages under Wine, as a user gets them.
# The installer, run silently (/S) into a fresh Wine prefix: both programs in one folder, the
# Start-menu entry, the uninstaller, and the installed q218-flash.exe starting.
# The ZIP, unpacked into an empty folder, with nothing of Qt or MinGW on Wine's paths:
# q218-flash.exe --version, and the window starting under Xvfb and closing by its Exit button.
# Usage: PackageCheck.sh WINE64 INSTALLER ZIP WORK-FOLDER
set -eu
wine=$1 installer=$2 zip=$3 work=$4
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$work"
mkdir -p "$work/unpacked"
unset WINEPATH WINEDLLPATH DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A prefix of its own, so no earlier install or test leaves anything behind; its own
# wineserver, ended on the way out.
export WINEPREFIX="$work/prefix"
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true' EXIT
"$wine" "$installer" /S >/dev/null 2>&1 || fail "the installer exited with $?"
root="$WINEPREFIX/drive_c/Program Files/Q218 Updater"
for file in bin/q218-updater.exe bin/q218-flash.exe bin/platforms/qwindows.dll Uninstall.exe; do
  [ -f "$root/$file" ] || fail "the installer did not install $file"
done
[ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Q218 Updater/Q218 Updater.lnk" ] ||
  fail "no Start-menu entry"
version=$("$wine" "$root/bin/q218-flash.exe" --version 2>&1 | tr -d '\r') || fail "installed q218-flash.exe: $version"
[ "$version" = "q218-flash 1.0.0" ] || fail "installed q218-flash.exe --version said: $version"
echo "installer: installed into Program Files with a Start-menu entry; $version"

unzip -q "$zip" -d "$work/unpacked"
bin=$(find "$work/unpacked" -name q218-flash.exe -printf '%h\n')
version=$("$wine" "$bin/q218-flash.exe" --version 2>&1 | tr -d '\r') || fail "unpacked q218-flash.exe: $version"
[ "$version" = "q218-flash 1.0.0" ] || fail "unpacked q218-flash.exe --version said: $version"

# The window: it must appear (all its DLLs and plugins found) and end with exit code 0 when
# its Exit button is clicked, 248 x 112 pixels into the window.
display=:$((100 + $$ % 100))
Xvfb "$display" -screen 0 800x600x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb; WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display "$wine" "$bin/q218-updater.exe" >/dev/null 2>&1 &
window=$!
id=$(DISPLAY=$display timeout 60 xdotool search --sync --name "DORVANE Q218 Firmware Update" | head -n 1) ||
  fail "the window did not appear"
eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$id")"
DISPLAY=$display xdotool mousemove --sync $((X + 248)) $((Y + 112)) click 1
status=0
wait $window || status=$?
[ "$status" -eq 0 ] || fail "the window ended with exit code $status"
echo "zip: q218-flash.exe $version, q218-updater.exe started and ended by Exit, without Qt on the path"
