#!/usr/bin/env bash
# Installs what is missing, builds the tracking tool and the CPU face detector in release mode
# and runs the quality suite: the scenes of scenes/ on the virtual camera, scored against their
# truth. Prints the table and writes it to build/quality/suite.md and suite.csv, with a CSV and a
# plot per scene. Arguments name the scenes to run (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/trackTool.sh
kiro_build_track_tool

echo "== running the quality suite"
kiro_run_track_tool --suite "$@" --scenes scenes --output build/quality --log-level error
