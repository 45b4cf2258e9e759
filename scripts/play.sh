#!/usr/bin/env bash
# Installs what is missing, builds, and starts havoc on this desktop.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh"
"$here/scripts/build.sh"
# havoc finds havoc.dat in its working directory.
cd "$here/build/data"
exec "$here/build/havoc"
