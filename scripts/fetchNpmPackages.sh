#!/usr/bin/env bash
# Fetches npm packages at pinned versions with `npm pack` (no install, no package scripts run)
# and extracts each into <destination>/<name>-<version>/, without the tarball's package/ prefix.
# Packages already there are skipped; a package lands whole or not at all, so concurrent runs
# and interrupted fetches never leave a half-extracted folder.
# Usage: scripts/fetchNpmPackages.sh <destination folder> <name@version>...
set -euo pipefail

fail() { echo "fetchNpmPackages: $*" >&2; exit 1; }

(($# >= 2)) || fail "usage: $0 <destination folder> <name@version>..."
destination=$1
shift
command -v npm >/dev/null || fail "npm is missing: install it (scripts/installDependencies.sh installs Debian's npm)"

mkdir -p "${destination}"
destination=$(cd "${destination}" && pwd)
# Inside the destination, so that the final rename stays on one file system.
work=$(mktemp -d "${destination}/.fetch.XXXXXX")
trap 'rm -rf "${work}"' EXIT

for spec in "$@"; do
    name=${spec%@*}
    version=${spec##*@}
    [[ "${spec}" == ?*@?* && "${name}" != */* ]] ||
        fail "'${spec}' is not an unscoped name@version (versions are pinned)"
    target="${destination}/${name}-${version}"
    [[ -d "${target}" ]] && continue

    echo "Fetching npm package ${spec} into ${target}"
    tarball=$(cd "${work}" && npm pack --loglevel=error "${spec}" | tail -n 1) ||
        fail "npm pack ${spec} failed"
    [[ -f "${work}/${tarball}" ]] || fail "npm pack ${spec} produced no tarball"
    extracted="${work}/${name}-${version}"
    mkdir "${extracted}"
    tar -xzf "${work}/${tarball}" -C "${extracted}" --strip-components=1 package/ ||
        fail "could not extract ${tarball}"
    # Another run may have finished the same package meanwhile: its copy is as good as ours.
    mv -T "${extracted}" "${target}" 2>/dev/null || [[ -d "${target}" ]] ||
        fail "could not move ${spec} into ${target}"
done
