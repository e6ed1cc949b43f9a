#!/usr/bin/env bash
# Installs what is missing, builds the library, the CPU face detector and the tracking tool in
# release mode, and tracks the default virtual scene (a photographed face moving about 0.6 m in
# front of a simulated RealSense camera) for a few seconds. Ends with the summary and the paths
# of the results and the plot. Extra arguments go to the tool (see README).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/installDependencies.sh
kiro_install_dependencies

echo "== building (linux-release)"
cmake --preset linux-release >build/demo-configure.log 2>&1 || { cat build/demo-configure.log; exit 1; }
cmake --build --preset linux-release --target kiroVoveDizevuroTrack kiroVoveDizevuroBlinkDetectorcpu >build/demo-build.log 2>&1 ||
    { tail -n 50 build/demo-build.log; exit 1; }

photo=build/testImages/usr/lib/python3/dist-packages/skimage/data/astronaut.png
if [[ ! -f "${photo}" ]]; then
    scripts/fetchTestImages.sh tests/plugins/blinkDetectorCpu/data/eyeLabels.csv build/testImages
fi

echo "== tracking the virtual scene"
bin=build/linux-release/bin
# In the build tree the detector plug-in has a folder of its own; installed, it lies beside the library.
LD_LIBRARY_PATH="${bin}/plugins/cpu${LD_LIBRARY_PATH:+:${LD_LIBRARY_PATH}}" \
    "${bin}/kiroVoveDizevuroTrack" --source scene --duration 5 --scene-photo "${photo}" --output build/demo \
    --log-level error "$@"
