#!/bin/sh
# Builds both Debian packages from the build folder $1 into $2 and checks them as a Debian
# desktop expects: lintian -I --pedantic reports nothing; every program is hardened (bound at
# start with read-only relocations, stack protector, fortified calls, no RUNPATH); the icon is
# there in each size of $3 and as SVG; the AppStream metadata agrees with the package.
# Then the release files: SHA256SUMS and the bills of materials (SbomCheck.cmake) against
# the packages and the image IMAGE-FILE.
# Usage: lintian-check.sh BUILD-FOLDER OUTPUT-FOLDER "16 32 ..." IMAGE-FILE
set -eu
build=$1
out=$2
sizes=$3
image=$4
here=$(dirname "$0")
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }
set -- "$out"/*.deb
echo "packages: $*"
lintian -I --pedantic --fail-on error,warning,info,pedantic "$@"
echo "lintian -I --pedantic: nothing reported"

faults=0
fault() {
    echo "FAULT: $*"
    faults=$((faults + 1))
}

for deb in "$@"; do
    root="$out/$(dpkg-deb -f "$deb" Package)"
    dpkg-deb -x "$deb" "$root"
    # The metadata as installed: its launchable names a desktop entry the package holds.
    appstreamcli validate-tree --no-net --strict "$root" >"$root.appstream" 2>&1 ||
        fault "${root#"$out"/}: AppStream: $(cat "$root.appstream")"
    for program in "$root"/usr/bin/*; do
        name=${program#"$root"/}
        before=$faults
        dynamic=$(readelf -dW "$program")
        symbols=$(readelf --dyn-syms -W "$program")
        echo "$dynamic" | grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' ||
            fault "$name: not bound at start (bind-now)"
        readelf -lW "$program" | grep -q GNU_RELRO || fault "$name: no read-only relocations"
        echo "$dynamic" | grep -Eq '\((RPATH|RUNPATH)\)' &&
            fault "$name: has a library search path: $(echo "$dynamic" | grep -E 'R(UN)?PATH')"
        echo "$symbols" | grep -q ' __stack_chk_fail' || fault "$name: no stack protector"
        echo "$symbols" | grep -Eq ' __[a-z0-9_]+_chk' || fault "$name: no fortified call"
        [ "$faults" -eq "$before" ] &&
            echo "$name: bind-now, relro, stack protector, fortify, no RUNPATH"
    done
done

# The release files: SHA256SUMS covers every package and bill and holds; each bill lists what
# its package holds and names the firmware image by its file's SHA-256, as the package's
# description does.
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fault "SHA256SUMS does not hold"
for deb in "$@"; do
    grep -q "$(basename "$deb")\$" "$out/SHA256SUMS" || fault "SHA256SUMS does not name $deb"
    root="$out/$(dpkg-deb -f "$deb" Package)"
    cmake -DPACKAGE="$deb" -DROOT="$root" -DIMAGE="$image" -P "$here/SbomCheck.cmake" ||
        fault "$(basename "$deb"): its bill of materials"
    dpkg-deb -f "$deb" Description | grep -q "SHA-256 $(sha256sum "$image" | cut -c1-64)\." ||
        fault "$(basename "$deb"): the description does not name the image's SHA-256"
done

icons="$out/q218-updater/usr/share/icons/hicolor"
for size in $sizes; do
    png="$icons/${size}x$size/apps/q218-updater.png"
    file -b "$png" 2>&1 | grep -q "^PNG image data, $size x $size," ||
        fault "${png#"$out"/}: not a $size x $size PNG: $(file -b "$png" 2>&1)"
done
file -b "$icons/scalable/apps/q218-updater.svg" 2>&1 | grep -q "^SVG" || fault "no SVG icon"
[ "$faults" -eq 0 ] && echo "icons: $sizes and SVG"

if [ "$faults" -ne 0 ]; then
    echo "$faults faults"
    exit 1
fi
