#!/usr/bin/env bash
# Builds one or more presets: linux, windows, linux-asan, fuzz (default: linux).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- linux
if [ -f web/package.json ]; then
  (cd web && npm run --silent build)
fi
for preset in "$@"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
