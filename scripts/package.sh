#!/usr/bin/env bash
# Builds the packages into build/package: the Debian package from the linux-release preset and
# the Windows .zip from the windows-release preset, each building only the targets it installs.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/installDependencies.sh
kiro_install_dependencies

installed=(kiroVoveDizevuro kiroVoveDizevuroBlinkDetectorcpu kiroVoveDizevuroTrack kiroVirtualRealsense)
rm -rf build/package && mkdir -p build/package
for preset in linux-release windows-release; do
    echo "== ${preset}: configure, build and package"
    cmake --preset "${preset}" >"build/${preset}-configure.log" 2>&1 || { cat "build/${preset}-configure.log"; exit 1; }
    cmake --build --preset "${preset}" --target "${installed[@]}" >"build/${preset}-build.log" 2>&1 ||
        { tail -n 50 "build/${preset}-build.log"; exit 1; }
    cpack --config "build/${preset}/CPackConfig.cmake" -B build/package >"build/${preset}-package.log" 2>&1 ||
        { cat "build/${preset}-package.log"; exit 1; }
done
ls -l build/package/*.deb build/package/*.zip
