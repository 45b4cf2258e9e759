#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# build/havoc_VERSION_ARCH.deb, ready for `sudo apt install ./build/havoc_*.deb`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh" >/dev/null
cd "$here/build"
cpack
