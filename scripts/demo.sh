#!/usr/bin/env bash
# Installs what is missing, builds the library, the CPU face detector and the tracking tool in
# release mode, and tracks the default virtual scene (a photographed face moving about 0.6 m in
# front of a simulated RealSense camera) for a few seconds. Ends with the summary and the paths
# of the results and the plot. Extra arguments go to the tool (see README).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/trackTool.sh
kiro_build_track_tool

echo "== tracking the virtual scene"
kiro_run_track_tool --source scene --duration 5 \
    --scene-photo build/testImages/usr/lib/python3/dist-packages/skimage/data/astronaut.png \
    --output build/demo --log-level error "$@"
