# Sourced by demo.sh and quality.sh: installs what is missing, builds the tracking tool and the
# CPU face detector in release mode and extracts the face photographs of the scenes.

kiro_build_track_tool() {
    source scripts/installDependencies.sh
    kiro_install_dependencies

    echo "== building (linux-release)"
    mkdir -p build
    cmake --preset linux-release >build/track-configure.log 2>&1 || { cat build/track-configure.log; return 1; }
    cmake --build --preset linux-release --target kiroVoveDizevuroTrack kiroVoveDizevuroBlinkDetectorcpu \
        >build/track-build.log 2>&1 || { tail -n 50 build/track-build.log; return 1; }

    if [[ ! -f build/testImages/usr/lib/python3/dist-packages/skimage/data/astronaut.png ]]; then
        scripts/fetchTestImages.sh tests/plugins/blinkDetectorCpu/data/eyeLabels.csv build/testImages
    fi
}

# Runs the tool with the given arguments. In the build tree the detector plug-in has a folder of
# its own; installed, it lies beside the library.
kiro_run_track_tool() {
    local bin=build/linux-release/bin
    LD_LIBRARY_PATH="${bin}/plugins/cpu${LD_LIBRARY_PATH:+:${LD_LIBRARY_PATH}}" "${bin}/kiroVoveDizevuroTrack" "$@"
}
