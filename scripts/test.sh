#!/usr/bin/env bash
# Installs what is missing, builds both platforms and runs every suite:
# Linux (unit, integration, page), Linux under ASan/UBSan (unit), Windows under Wine,
# and a short run of each fuzz target.
#
# --busy (or TAVRIN_BUSY=1): runs it all with one CPU hog per core beside it, as on a school's
# computer or a shared CI machine, to show that no test depends on a quiet machine.
set -uo pipefail
cd "$(dirname "$0")/.."
busy=${TAVRIN_BUSY:-0}
for arg in "$@"; do
  case $arg in
    --busy) busy=1 ;;
    *) echo "usage: scripts/test.sh [--busy]" >&2; exit 2 ;;
  esac
done
hogs=()
if [[ $busy == 1 ]]; then
  for _ in $(seq "$(nproc)"); do
    yes >/dev/null &
    hogs+=($!)
  done
  echo "=== busy: ${#hogs[@]} CPU hogs run beside the tests"
fi
setup_began=$SECONDS
scripts/setup.sh || exit 1
fuzz_seconds=${TAVRIN_FUZZ_SECONDS:-30}
failed=()
total_passed=0
total_failed=0
ctest_log=$(mktemp)
trap 'rm -f "$ctest_log"; ((${#hogs[@]})) && kill "${hogs[@]}" 2>/dev/null' EXIT

timings=("$(printf '%5ds  %s' $((SECONDS - setup_began)) setup)")
step() {  # name, command...
  local name=$1; shift
  echo "=== $name"
  local began=$SECONDS rc=0
  "$@" || rc=$?
  timings+=("$(printf '%5ds  %s' $((SECONDS - began)) "$name")")
  if ((rc != 0)); then
    failed+=("$name")
    # ctest steps and the fuzz step count their own; a failed build counts as one failure
    [[ $name == test* || $name == fuzz* ]] || total_failed=$((total_failed + 1))
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
# The fuzz targets run side by side (each a single process), their output kept apart and shown
# in turn.
fuzz_one() {  # target, log
  local f=$1 log=$2 name corpus work rc=0
  name=$(basename "$f")
  corpus=tests/fuzz/corpus/$name
  work=$(mktemp -d)
  "$f" -max_total_time="$fuzz_seconds" -print_final_stats=0 -artifact_prefix=build/fuzz/ \
    "$work" $( [ -d "$corpus" ] && echo "$corpus" ) >"$log" 2>&1 || rc=$?
  rm -rf "$work"
  return "$rc"
}
fuzz_all() {
  local f pids=() logs=() rc=0 i=0
  for f in build/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    logs+=("$(mktemp)")
    fuzz_one "$f" "${logs[-1]}" &
    pids+=($!)
  done
  for f in build/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    local this=0
    wait "${pids[i]}" || this=$?
    echo "--- fuzz $(basename "$f") (${fuzz_seconds}s): exit $this"
    tail -n 15 "${logs[i]}"
    rm -f "${logs[i]}"
    if ((this == 0)); then
      total_passed=$((total_passed + 1))
    else
      total_failed=$((total_failed + 1))
      rc=1
    fi
    i=$((i + 1))
  done
  return "$rc"
}
step "fuzz (${fuzz_seconds}s each)" fuzz_all

echo
printf '%s\n' "${timings[@]}"
if ((${#failed[@]})); then
  # Why each failed test failed, where the end of a long log shows it.
  for name in "${failed[@]}"; do
    case $name in
      "test linux") python3 scripts/failure-tails.py build/linux 60 ;;
      "test linux-asan") python3 scripts/failure-tails.py build/linux-asan 60 ;;
      "test windows (Wine)") python3 scripts/failure-tails.py build/windows 60 ;;
    esac
  done
  echo "FAILED steps: ${failed[*]}"
fi
echo "$total_passed passed, $total_failed failed"
((${#failed[@]} == 0))
