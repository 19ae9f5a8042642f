#!/usr/bin/env bash
# The run's kernel calls per file, beside the bare loop's: what a count of Wine
# server requests cannot see (a write to a file, a read of one, a look at the
# clock). run_bench's count mode runs each side once between two marker files
# (after a run that is not counted); every call of its process and threads
# is traced (strace -f), and the trace is cut where a call names a marker.
# The empty folder's run gives the run's fixed cost (its dialog, start and
# end) as calls a run, shown apart.
# Usage: scripts/count_kernel_calls.sh BUILD_DIR [SETS]   (SETS default "eb": the
#        empty folder and 10,000 x 4 KiB in 400 folders)
# Runs under the Wine session that ./corvane bench started.
set -euo pipefail
build=$(cd "$1" && pwd)
sets=${2:-eb}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || wine_env "$build"
if ! command -v strace >/dev/null 2>&1; then
  echo "count_kernel_calls: strace is missing (./corvane setup installs it)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A Wine server and its services already up, so that none starts under the
# trace: they would be counted as the process's own calls.
wineserver -p10 </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# Calls are the lines that begin one ("PID name(", finished or not); a line
# naming a marker switches the side being counted.
strace -f -qq -o "|awk '
  match(\$0, /cv_count_[a-z]_(run|bare)_(begin|end)/) {
    split(substr(\$0, RSTART + 9, RLENGTH - 9), part, \"_\")
    side = part[3] == \"begin\" ? part[1] \" \" part[2] : \"\"
    next
  }
  side != \"\" && \$2 ~ /^[a-z_0-9]+\\(/ { count[side]++; name = \$2; sub(/\\(.*/, \"\", name); by[side \" \" name]++ }
  END { for (s in count) print s, count[s]; for (k in by) print k, by[k] }' >$work/counts" \
  wine "$build/bin/run_bench.exe" "$sets" count </dev/null 2>&1 | tr -d '\r' >"$work/bench" || true
# strace's output pipe ends after strace itself.
for _ in $(seq 1 100); do
  [ -s "$work/counts" ] && break
  sleep 0.1
done
grep -v '^counted' "$work/bench" || true

awk -v goal=1.0 '
  FNR == NR {
    if ($1 == "counted") { files[$2] = $3; name[$2] = substr($0, index($0, ":") + 2); order[++sets] = $2 }
    next
  }
  NF == 3 { total[$1 " " $2] = $3 }
  NF == 4 { per[$1 " " $2 " " $3] = $4; names[$1 " " $3] = 1 }
  END {
    met = 1
    for (i = 1; i <= sets; i++) if (files[order[i]] == 0) fixed = total[order[i] " run"] - total[order[i] " bare"]
    for (i = 1; i <= sets; i++) {
      set = order[i]; n = files[set]
      if (!((set " run") in total) || !((set " bare") in total)) { printf "%s: not counted\n", name[set]; met = 0; continue }
      if (n == 0) { printf "%s: kernel calls a run: run %d, bare loop %d, the fixed cost %+d\n", name[set], total[set " run"], total[set " bare"], fixed; continue }
      run = total[set " run"] / n; bare = total[set " bare"] / n
      ok = run - bare <= goal
      if (!ok) met = 0
      printf "%s: kernel calls a file (strace -f, cut at the markers)\n", name[set]
      printf "  run %.2f, bare loop %.2f, extra %+.2f", run, bare, run - bare
      printf "  goal: extra <= %.1f a file: %s\n", goal, ok ? "met" : "NOT MET"
      if (fixed != "") printf "  less the run'"'"'s fixed cost (%d calls a run): extra %+.2f a file\n", fixed, run - bare - fixed / n
      printf "  the extra by call, a file (those of 0.05 and more either way):\n"
      for (key in names) {
        split(key, k, " ")
        if (k[1] != set) continue
        d = (per[set " run " k[2]] - per[set " bare " k[2]]) / n
        if (d >= 0.05 || d <= -0.05) printf "    %+7.2f %s\n", d, k[2]
      }
    }
    printf "goals (kernel calls): %s\n", met ? "all met" : "NOT all met"
    exit met ? 0 : 1
  }' "$work/bench" "$work/counts"
