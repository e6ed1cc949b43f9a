#!/usr/bin/env bash
# Installs what is missing, builds the Linux (ASan + UBSan) and Windows (MinGW-w64) presets and
# runs every test of both, the Windows ones under Wine. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

source scripts/installDependencies.sh
kiro_install_dependencies || exit 1

status=0
for preset in linux windows; do
    echo "== ${preset}: configure and build"
    if ! cmake --preset "${preset}" >"build-${preset}-configure.log" 2>&1; then
        cat "build-${preset}-configure.log"
        echo "configure of ${preset} failed"
        status=1
        continue
    fi
    rm -f "build-${preset}-configure.log"
    if ! cmake --build --preset "${preset}"; then
        echo "build of ${preset} failed"
        status=1
        continue
    fi
done

for preset in linux windows; do
    [[ -d "build/${preset}" ]] || continue
    echo "== ${preset}: tests"
    ctest --preset "${preset}" --parallel 2 || status=1
done

exit "${status}"
