#!/usr/bin/env bash
# Installs what is missing, builds the Linux (ASan + UBSan) and Windows (MinGW-w64) presets,
# fuzzes the decoders of untrusted bytes for a few seconds and runs every test of both presets,
# the Windows ones under Wine. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

source scripts/installDependencies.sh
kiro_install_dependencies clang-14 libclang-rt-14-dev || exit 1

status=0
mkdir -p build
for preset in linux windows; do
    echo "== ${preset}: configure and build"
    if ! cmake --preset "${preset}" >"build/${preset}-configure.log" 2>&1; then
        cat "build/${preset}-configure.log"
        echo "configure of ${preset} failed"
        status=1
        continue
    fi
    if ! cmake --build --preset "${preset}"; then
        echo "build of ${preset} failed"
        status=1
    fi
done

./scripts/fuzz.sh 10 || status=1

for preset in linux windows; do
    [[ -f "build/${preset}/CTestTestfile.cmake" ]] || continue
    echo "== ${preset}: tests"
    ctest --preset "${preset}" --parallel 2 || status=1
done

exit "${status}"
