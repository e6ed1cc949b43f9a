#!/usr/bin/env bash
# Consumer tests: hosts built against the packages as a user receives them, run on the virtual
# RealSense device that the packages ship. Linux: the Debian package unpacked with dpkg -x, the C
# host built with CMake (find_package) and with pkg-config, the C++ host with CMake. Windows: the
# .zip unpacked, both hosts cross-built with CMake and run under Wine. Both: the installed
# tracking tool tracks the virtual scene, and the package holds only public headers and every
# licence text its notices name. Arguments: the .deb and the .zip (default: those in
# build/package, from scripts/package.sh). Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
source=$(pwd)

deb=$(realpath "${1:-$(ls build/package/*.deb)}") || exit 1
zip=$(realpath "${2:-$(ls build/package/*.zip)}") || exit 1
version=$(sed -n 's/^project(kiroVoveDizevuro VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=${source}/build/consumer
wine=/usr/lib/wine/wine64
rm -rf "${work}" && mkdir -p "${work}"

passed=0
failed=0
# check <name> <command...>: runs one check in a subshell, its output in build/consumer/<name>.log.
check() {
    local name=$1
    shift
    if ("$@") >"${work}/${name}.log" 2>&1; then
        echo "passed: ${name}"
        ((++passed))
    else
        cat "${work}/${name}.log"
        echo "FAILED: ${name}"
        ((++failed))
    fi
}

# package_content <listing file> <notices file>: no internal or platform headers; every licence
# text the notices name is there.
package_content() {
    if grep -E '/include/kiroVoveDizevuro/.*(Internal|Posix|Windows)\.h$' "$1"; then
        echo "internal or platform headers are installed"
        return 1
    fi
    local licenses license
    licenses=$(sed -n 's#.*\(licenses/[A-Za-z0-9.-]*\).*#\1#p' "$2" | sort -u) || return 1
    [[ -n "${licenses}" ]] || { echo "the notices name no licence text"; return 1; }
    for license in ${licenses}; do
        grep -q "/share/doc/kiroVoveDizevuro/${license}$" "$1" || { echo "${license} is missing"; return 1; }
    done
}

# cmake_host <platform> <host> <cmake arguments...>: configures and builds tests/consumer/<host>
# in build/consumer/<platform>/<host>.
cmake_host() {
    local build=${work}/$1/$2 host=$2
    shift 2
    cmake -S "tests/consumer/${host}" -B "${build}" -G Ninja "$@" && cmake --build "${build}"
}

# linux_host <host> <arguments...>: builds the host with find_package and runs it. The C host
# must need none of the class interface's dependencies, so they are hidden from it.
linux_host() {
    local host=$1 hidden=()
    shift
    [[ "${host}" == cHost ]] && hidden=(-DCMAKE_DISABLE_FIND_PACKAGE_spdlog=ON
        -DCMAKE_DISABLE_FIND_PACKAGE_fmt=ON -DCMAKE_DISABLE_FIND_PACKAGE_glm=ON)
    cmake_host linux "${host}" -DCMAKE_PREFIX_PATH="${prefix}" "${hidden[@]}" && "${work}/linux/${host}/${host}" "$@"
}

# pkg_config_host <arguments...>: builds the C host with pkg-config and runs it.
pkg_config_host() {
    export PKG_CONFIG_PATH=${prefix}/lib/pkgconfig
    # shellcheck disable=SC2046 # the flags are to be split into words
    cc -std=c99 -o "${work}/linux/cHostPkgConfig" tests/consumer/cHost/cHost.c $(pkg-config --cflags --libs kiroVoveDizevuro) &&
        LD_LIBRARY_PATH="${prefix}/lib" "${work}/linux/cHostPkgConfig" "$@"
}

# windows_host <host> <arguments...>: cross-builds the host with find_package, runs it under Wine.
windows_host() {
    local host=$1
    shift
    cmake_host windows "${host}" -DCMAKE_TOOLCHAIN_FILE="${source}/cmake/mingw-w64-x86_64.cmake" \
        -DkiroVoveDizevuro_DIR="${prefix}/lib/cmake/kiroVoveDizevuro" &&
        "${wine}" "${work}/windows/${host}/${host}.exe" "$@"
}

# windows_tool <arguments...>: runs the installed tool under Wine in build/consumer/windows/track.
windows_tool() {
    mkdir -p "${work}/windows/track" && cd "${work}/windows/track" &&
        "${wine}" "${prefix}/bin/kiroVoveDizevuroTrack.exe" "$@"
}

# ---- Linux: the Debian package's content ----
root=${work}/linux/root
if ! (mkdir -p "${root}" && dpkg -x "${deb}" "${root}" &&
    dpkg-deb -c "${deb}" | awk '{print $NF}' >"${work}/linux/content.txt"); then
    echo "cannot unpack ${deb}"
    exit 1
fi
prefix=${root}/usr
check linux.packageContent package_content "${work}/linux/content.txt" "${prefix}/share/doc/kiroVoveDizevuro/thirdPartyNotices.txt"

export KIRO_REALSENSE2_LIBRARY=${prefix}/lib/kiroVirtualRealsense.so
check linux.cHost.cmake linux_host cHost "${version}"
check linux.cppHost.cmake linux_host cppHost
check linux.cHost.pkgConfig pkg_config_host "${version}"
unset KIRO_REALSENSE2_LIBRARY
# The tool finds the virtual device and, through the library, the plug-in by itself.
check linux.tool "${prefix}/bin/kiroVoveDizevuroTrack" --source scene --duration 1 --output "${work}/linux/track"

# ---- Windows: the zip's content, under Wine ----
if ! (mkdir -p "${work}/windows" && cd "${work}/windows" && cmake -E tar xf "${zip}" &&
    cmake -E tar tf "${zip}" | sed 's#^#/#' >content.txt); then
    echo "cannot unpack ${zip}"
    exit 1
fi
prefix=$(ls -d "${work}"/windows/kiroVoveDizevuro-*/)
prefix=${prefix%/}
check windows.packageContent package_content "${work}/windows/content.txt" "${prefix}/share/doc/kiroVoveDizevuro/thirdPartyNotices.txt"

# One wineserver for all runs: a server that exits with its last program drops a program that
# connects at that moment.
export WINEPREFIX=${work}/wineprefix WINEDEBUG=-all
mkdir -p "${WINEPREFIX}" && wineserver -p >/dev/null 2>&1
trap 'wineserver -k' EXIT
check windows.prefix "${wine}" wineboot -i
export WINEPATH="Z:${prefix//\//\\}\\bin" KIRO_REALSENSE2_LIBRARY="Z:${prefix}/bin/kiroVirtualRealsense.dll"
check windows.cHost windows_host cHost "${version}"
check windows.cppHost windows_host cppHost
unset KIRO_REALSENSE2_LIBRARY WINEPATH
check windows.tool windows_tool --source scene --duration 1

echo "consumer: ${passed} passed, ${failed} failed"
((failed == 0))
