#!/usr/bin/env bash
# Installs what is missing, builds the Linux (ASan + UBSan), Linux ThreadSanitizer, Windows
# (MinGW-w64) and Linux release presets (the last so that an error only optimisation shows cannot
# land; its tests are not run), fuzzes the decoders of untrusted bytes for a few seconds, runs the
# threaded tests under ThreadSanitizer and every test of the Linux and Windows presets, the
# Windows ones under Wine, then makes the packages and runs the consumer tests against them.
# Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

source scripts/installDependencies.sh
kiro_install_dependencies clang-14 libclang-rt-14-dev || exit 1

status=0
mkdir -p build
for preset in linux linux-tsan windows linux-release; do
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

# The threaded tests first, under ThreadSanitizer: the preset's TSAN_OPTIONS end a test at its
# first report, and any report left in the log fails the run too.
if [[ -f build/linux-tsan/CTestTestfile.cmake ]]; then
    echo "== linux-tsan: threaded tests"
    ctest --preset linux-tsan -L threads || status=1
    if grep -q "WARNING: ThreadSanitizer" build/linux-tsan/Testing/Temporary/LastTest.log 2>/dev/null; then
        echo "ThreadSanitizer reported a problem"
        status=1
    fi
fi

for preset in linux windows; do
    [[ -f "build/${preset}/CTestTestfile.cmake" ]] || continue
    echo "== ${preset}: tests"
    ctest --preset "${preset}" --parallel 2 || status=1
done

echo "== packages and consumer tests"
if scripts/package.sh; then
    tests/consumer/run.sh || status=1
else
    echo "packaging failed"
    status=1
fi

exit "${status}"
