#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts it on the bundled bank.
# Extra arguments go to the program (for instance --no-browser).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux
exec build/linux/app/tavrin "$@"
