#!/usr/bin/env bash
# Installs what is missing, builds both platforms and runs every suite:
# Linux (unit, integration, page), Linux under ASan/UBSan (unit), Windows under Wine,
# and a short run of each fuzz target.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
fuzz_seconds=${TAVRIN_FUZZ_SECONDS:-30}
failed=()
total_passed=0
total_failed=0
ctest_log=$(mktemp)
trap 'rm -f "$ctest_log"' EXIT

step() {  # name, command...
  local name=$1; shift
  echo "=== $name"
  if "$@"; then
    [[ $name == fuzz* ]] && total_passed=$((total_passed + 1))
  else
    failed+=("$name")
    # ctest steps count their own tests; a failed build or fuzz run counts as one failure
    [[ $name == test* ]] || total_failed=$((total_failed + 1))
  fi
}

step "build linux" scripts/build.sh linux
# ctest, with its counts added to the closing line
run_ctest() {
  ctest "$@" 2>&1 | tee "$ctest_log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$ctest_log" | tail -n 1)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    total_failed=$((total_failed + BASH_REMATCH[1]))
    total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  return "$rc"
}

step "test linux" run_ctest --preset linux -j2
step "build linux-asan" scripts/build.sh linux-asan
step "test linux-asan" run_ctest --preset linux-asan -j2
step "build windows" scripts/build.sh windows
step "test windows (Wine)" run_ctest --preset windows -j2
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
  echo "FAILED steps: ${failed[*]}"
fi
echo "$total_passed passed, $total_failed failed"
((${#failed[@]} == 0))
