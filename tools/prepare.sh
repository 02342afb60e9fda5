# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Shared set-up of ./run, ./test and ./bench: installs the Debian packages that are missing,
# then configures and builds into build/. Sourced, not run; extra packages come in
# extra_packages, and the caller's working folder is left as it was.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# help2man makes the command line's manual page from its --help; the web server is built on
# Boost.Beast on Boost.Asio (with OpenSSL for TLS) and libsodium (passwords, session tokens).
packages=(cmake g++ make qt6-base-dev libgl-dev help2man pkgconf libboost1.74-dev libssl-dev
          libsodium-dev
          ${extra_packages[@]+"${extra_packages[@]}"})
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

[ -f "$top/build/CMakeCache.txt" ] || cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" -j "$(nproc)"
