#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts it on the bundled bank.
# Arguments go to the program; without any it starts in browser mode (--browser): it prints
# the start URL and opens it in Chromium or the default browser. --no-browser only serves.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh linux
[ $# -gt 0 ] || set -- --browser
exec build/linux/app/tavrin "$@"
