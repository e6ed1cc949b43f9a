#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz, replays each target's seed corpus and
# then fuzzes it for a bounded time on a copy of that corpus (the repository's stays as it is).
# Exits non-zero on any crash or sanitizer report. Linux only.
#
#   scripts/fuzz.sh [seconds per target]     (default 20)
set -uo pipefail
cd "$(dirname "$0")/.."

source scripts/installDependencies.sh
kiro_install_dependencies clang-14 libclang-rt-14-dev || exit 1

# Each name has a target <name>Fuzzer and a seed corpus in fuzz/corpus/<name>/.
FUZZERS=(tga)
seconds="${1:-20}"
build=build/fuzz

mkdir -p "${build}"
if ! cmake -S fuzz -B "${build}" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >"${build}/build.log" 2>&1 ||
    ! cmake --build "${build}" -j1 >>"${build}/build.log" 2>&1; then
    cat "${build}/build.log"
    echo "fuzz: build failed"
    exit 1
fi

# UBSan would otherwise print and carry on; the targets are also built not to recover.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# A sanitizer report is a failure even if the process somehow exits with 0.
reported() {
    grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|==[0-9]+==ABORTING' "$1"
}

status=0
for name in "${FUZZERS[@]}"; do
    binary="${build}/${name}Fuzzer"
    seeds="fuzz/corpus/${name}"
    corpus="${build}/corpus/${name}"
    log="${build}/${name}.log"
    mkdir -p "${corpus}" "${build}/artifacts"

    echo "== fuzz ${name}: replay $(find "${seeds}" -type f | wc -l) seeds"
    if ! find "${seeds}" -type f -print0 | xargs -0 -r "${binary}" >"${log}" 2>&1 || reported "${log}"; then
        cat "${log}"
        echo "fuzz ${name}: replay of the seed corpus failed"
        status=1
        continue
    fi

    echo "== fuzz ${name}: ${seconds} s"
    cp -R "${seeds}/." "${corpus}/"
    "${binary}" "${corpus}" -max_total_time="${seconds}" -max_len=4096 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="${build}/artifacts/${name}-" >"${log}" 2>&1
    result=$?
    if ((result != 0)) || reported "${log}"; then
        tail -n 60 "${log}"
        echo "fuzz ${name}: failed (exit ${result}); inputs are in ${build}/artifacts/"
        status=1
        continue
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "${log}")
    seconds_run=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "${log}")
    echo "fuzz ${name}: ${executions} executions in ${seconds_run} s, no crash or sanitizer report," \
        "corpus $(find "${corpus}" -type f | wc -l) inputs"
done

exit "${status}"
