#!/usr/bin/env bash
# Extracts the photographs that a labels file names (column 1 the Debian package, column 2 the
# path inside it; lines starting with # and the header skipped) from their packages into a
# folder, without installing the packages.
# Usage: scripts/fetchTestImages.sh <labels.csv> <destination folder>
set -euo pipefail
labels=$1
destination=$2

work=$(mktemp -d)
trap 'rm -rf "${work}"' EXIT
rows=$(grep -v '^#' "${labels}" | tail -n +2)
mapfile -t packages < <(cut -d, -f1 <<<"${rows}" | sort -u)

download() { (cd "${work}" && apt-get download -qq "${packages[@]}" 2>&1 | grep -v "unsandboxed as root" || true); }
download
# A fresh machine may not have the package lists yet.
if ! compgen -G "${work}/*.deb" >/dev/null; then
    apt-get update -qq
    download
fi

mkdir -p "${destination}"
for package in "${packages[@]}"; do
    deb=$(compgen -G "${work}/${package}_*.deb" | head -n 1) || { echo "could not download ${package}" >&2; exit 1; }
    mapfile -t paths < <(awk -F, -v p="${package}" '$1 == p { print "./" $2 }' <<<"${rows}")
    dpkg-deb --fsys-tarfile "${deb}" | tar -x -C "${destination}" "${paths[@]}"
done
