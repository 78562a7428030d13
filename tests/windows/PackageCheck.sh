#!/bin/sh
# The Windows packages under Wine, as a user gets them.
# The installer, run silently (/S) into a fresh Wine prefix: both programs in one folder, the
# Start-menu entry, the uninstaller, and the installed q218-flash.exe starting.
# The ZIP, unpacked into an empty folder, with nothing of Qt or MinGW on Wine's paths:
# q218-flash.exe --version, and the window starting under Xvfb and closing by its Exit button.
# The release files beside them: SHA256SUMS holds, and the ZIP's bill of materials lists every
# program and DLL the ZIP holds and the firmware image IMAGE-FILE by its SHA-256.
# Usage: PackageCheck.sh WINE64 INSTALLER ZIP WORK-FOLDER VERSION IMAGE-FILE SBOM-CHECK
set -eu
wine=$1 installer=$2 zip=$3 work=$4 q218_version=$5 image=$6 sbom_check=$7
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$work"
mkdir -p "$work/unpacked"
unset WINEPATH WINEDLLPATH DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# An X server of its own, up before the first Wine process: the prefix's desktop process,
# started by the installer, serves the window later and draws only on the display it was
# started with. Xvfb picks a free display itself and names it only once it listens (a number
# chosen here may be held, or left locked by a server killed earlier).
Xvfb -displayfd 3 -screen 0 800x600x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
waited=0
until [ -s "$work/display" ]; do
  kill -0 $xvfb 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  [ $waited -lt 300 ] || fail "Xvfb named no display in 30 s"
  waited=$((waited + 1))
  sleep 0.1
done
export DISPLAY=:$(cat "$work/display")

# A prefix of its own, so no earlier install or test leaves anything behind; its own
# wineserver, ended on the way out (before the X server).
export WINEPREFIX="$work/prefix"
trap 'wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null || true' EXIT
"$wine" "$installer" /S >/dev/null 2>&1 || fail "the installer exited with $?"
root="$WINEPREFIX/drive_c/Program Files/Q218 Updater"
for file in bin/q218-updater.exe bin/q218-flash.exe bin/platforms/qwindows.dll Uninstall.exe; do
  [ -f "$root/$file" ] || fail "the installer did not install $file"
done
[ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Q218 Updater/Q218 Updater.lnk" ] ||
  fail "no Start-menu entry"
version=$("$wine" "$root/bin/q218-flash.exe" --version 2>&1 | tr -d '\r') || fail "installed q218-flash.exe: $version"
version=$(echo "$version" | head -n 1)
[ "$version" = "q218-flash $q218_version" ] || fail "installed q218-flash.exe --version said: $version"
echo "installer: installed into Program Files with a Start-menu entry; $version"

unzip -q "$zip" -d "$work/unpacked"
(cd "$(dirname "$zip")" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold"
cmake -DPACKAGE="$zip" -DROOT="$work/unpacked" -DIMAGE="$image" -P "$sbom_check" ||
  fail "the ZIP's bill of materials does not match the ZIP"
bin=$(find "$work/unpacked" -name q218-flash.exe -printf '%h\n')
version=$("$wine" "$bin/q218-flash.exe" --version 2>&1 | tr -d '\r') || fail "unpacked q218-flash.exe: $version"
version=$(echo "$version" | head -n 1)
[ "$version" = "q218-flash $q218_version" ] || fail "unpacked q218-flash.exe --version said: $version"

# The window: it must appear (all its DLLs and plugins found) and end with exit code 0 when
# its Exit button is clicked, 248 x 112 pixels into the window.
# Everything the window says goes to a file, shown if it fails.
"$wine" "$bin/q218-updater.exe" >"$work/window.log" 2>&1 &
window=$!
shown() { echo "--- what the window printed:"; tr -d '\r' <"$work/window.log" | tail -n 20; }
id=$(timeout 60 xdotool search --sync --name "DORVANE Q218 Firmware Update" | head -n 1)
if [ -z "$id" ]; then
  how="is still running"
  if ! kill -0 $window 2>/dev/null; then
    status=0
    wait $window || status=$?
    how="ended with exit code $status"
  fi
  shown
  fail "the window did not appear within 60 s on $DISPLAY; it $how"
fi
eval "$(xdotool getwindowgeometry --shell "$id")"
xdotool mousemove --sync $((X + 248)) $((Y + 112)) click 1
status=0
wait $window || status=$?
[ "$status" -eq 0 ] || { shown; fail "the window ended with exit code $status"; }
echo "zip: q218-flash.exe $version, q218-updater.exe started and ended by Exit, without Qt on the path"
