#!/usr/bin/env bash
# Installs what is missing, builds both platforms and runs every suite:
# Linux (unit, integration, page), Linux under ASan/UBSan (unit), Windows under Wine,
# and a short run of each fuzz target.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
fuzz_seconds=${TAVRIN_FUZZ_SECONDS:-30}
failed=()

step() {  # name, command...
  local name=$1; shift
  echo "=== $name"
  if ! "$@"; then failed+=("$name"); fi
}

step "build linux" scripts/build.sh linux
step "test linux" ctest --preset linux -j2
step "build linux-asan" scripts/build.sh linux-asan
step "test linux-asan" ctest --preset linux-asan -j2
step "build windows" scripts/build.sh windows
step "test windows (Wine)" ctest --preset windows -j2
step "build fuzz" scripts/build.sh fuzz
for f in build/fuzz/*_fuzz; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=tests/fuzz/corpus/$name
  work=$(mktemp -d)
  step "fuzz $name (${fuzz_seconds}s)" "$f" -max_total_time="$fuzz_seconds" -print_final_stats=0 \
    -artifact_prefix=build/fuzz/ "$work" $( [ -d "$corpus" ] && echo "$corpus" )
  rm -rf "$work"
done

echo
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all suites passed"
