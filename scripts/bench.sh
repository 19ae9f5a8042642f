#!/usr/bin/env bash
# Runs the benchmarks under the Wine session that ./corvane bench started, each
# to its end, and exits non-zero when any failed or missed a goal.
# Their scratch folder (ROM collections and the plug-in's data folder) is C:\cvb\
# of the build folder's prefix: a short path whatever the clone's depth, so the
# paths the benchmarks make stay within MAX_PATH. As root it is a RAM disk (a
# tmpfs mounted there for the time of the benchmarks), so that the shared
# disk's drifting latency stays out.
# Usage: scripts/bench.sh BUILD_DIR [BENCH [ARGS...]]   (one benchmark, with its arguments)
#        scripts/bench.sh BUILD_DIR count [SETS]          (only the counted one: count_requests.sh;
#                                                     SETS default "eba": "e" gives the run's fixed cost)
set -euo pipefail
build=$(cd "$1" && pwd)
shift
. "$(dirname "$0")/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || wine_env "$build"
# The run's requests counted (scripts/count_requests.sh) come after all the others.
counting=$([ $# -eq 0 ] && echo after || echo no)
if [ "${1:-}" = count ]; then counting=only count_sets=${2:-eba} && set --; fi
exes=(crc_bench registration_bench run_bench launch_bench)
if [ $# -gt 0 ]; then exes=("$1"); shift; fi
if [ "$counting" = only ]; then exes=(); fi
for exe in "${exes[@]}"; do
  if [ ! -f "$build/bin/$exe.exe" ]; then
    echo "bench: $build/bin/$exe.exe is missing (build first)" >&2
    exit 1
  fi
done

scratch=$WINEPREFIX/drive_c/cvb
mounted=0
unmount() {
  if [ "$mounted" = 1 ]; then
    # The wineserver may still hold a folder there: then the mount is detached
    # lazily, and goes when the session's server ends.
    umount "$scratch" 2>/dev/null || umount -l "$scratch" || true
    mounted=0
  fi
}
trap unmount EXIT
trap 'exit 130' INT TERM
mkdir -p "$scratch"
# A mount left by a benchmark that was killed goes first.
if mountpoint -q "$scratch"; then umount "$scratch" || umount -l "$scratch"; fi
if [ "$(id -u)" != 0 ]; then
  echo "bench: scratch C:\\cvb\\ on the shared disk ($scratch): not root, no RAM disk"
elif error=$(mount -t tmpfs -o size=4g,mode=0777 corvane_bench "$scratch" 2>&1); then
  mounted=1
  echo "bench: scratch C:\\cvb\\ on a RAM disk (tmpfs at $scratch)"
else
  echo "bench: scratch C:\\cvb\\ on the shared disk ($scratch): mount failed: $error"
fi
export CORVANE_BENCH_SCRATCH='C:\cvb\'

# Runs a command with its lines passed on, and says it is still at work after
# every 10 s without a line (a benchmark's set-up and long rounds print
# nothing). A line cut by the wait is kept whole. The command's status stands.
speak_while() {
  local name=$1 start=$SECONDS line pending=
  shift
  { "$@" 2>&1 </dev/null; echo "bench-status $?"; } | while :; do
    if IFS= read -r -t 10 line; then
      line=$pending$line
      pending=
      case $line in "bench-status "*) exit "${line#bench-status }" ;; esac
      printf '%s\n' "$line"
    elif [ $? -gt 128 ]; then
      pending=$pending$line
      echo "bench: $name still at work ($((SECONDS - start)) s)"
    else
      exit 1
    fi
  done
}

failed=()
for exe in "${exes[@]}"; do
  echo "== $exe"
  speak_while "$exe" wine "$build/bin/$exe.exe" "$@" || failed+=("$exe")
  # Each benchmark starts on an empty scratch: whatever one leaves there would
  # crowd the next one off the RAM disk. A leftover is named, then removed.
  if [ -n "$(ls -A "$scratch")" ]; then
    echo "bench: $exe left $(du -sh "$scratch" | cut -f1) in its scratch: $(ls -A "$scratch" | tr '\n' ' ')"
    find "$scratch" -mindepth 1 -delete
  fi
done
if [ "$counting" != no ]; then
  echo "== count_requests"
  speak_while count_requests bash "$(dirname "$0")/count_requests.sh" "$build" "${count_sets:-eba}" ||
    failed+=(count_requests)
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "bench: FAILED or a goal missed: ${failed[*]}" >&2
  exit 1
fi
echo "bench: every goal met"
