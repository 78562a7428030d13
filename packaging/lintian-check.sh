#!/bin/sh
# Builds both Debian packages from the build folder $1 into $2 and runs lintian on them:
# fails on any error or warning. Usage: lintian-check.sh BUILD-FOLDER OUTPUT-FOLDER
set -eu
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }
set -- "$out"/*.deb
echo "packages: $*"
lintian --fail-on error,warning --display-info "$@"
echo "lintian: no error, no warning"
