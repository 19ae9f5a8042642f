#!/usr/bin/env bash
# The demo: makes a sample ROM collection with the real tools and runs the demo
# host (build/bin/CorvaneHost.exe) on it inside the running Wine session.
#   scripts/demo.sh BUILD_DIR           ./corvane demo: build/demo, scripted
#                                       unless a person can see the screen
#   scripts/demo.sh BUILD_DIR --check   the end-to-end test: build/e2e, always
#                                       scripted, with extra checks
# Scripted, it prints the host's report, writes PNG screenshots next to it and
# exits non-zero when any step failed. CORVANE_DEMO_INTERACTIVE=1 opens the
# window for a person instead (=0 forces the scripted run).
set -euo pipefail
build=$(cd "$1" && pwd)
check=0
[ "${2:-}" = "--check" ] && check=1
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-env.sh"
[ -n "${WINEPREFIX:-}" ] || wine_env "$build"
if [ -z "${DISPLAY:-}" ]; then
  echo "demo: no X display; run it through ./corvane demo (or ./corvane test)" >&2
  exit 2
fi

if [ "$check" = 1 ]; then demo="$build/e2e"; else demo="$build/demo"; fi
host="$build/bin/CorvaneHost.exe"
emulator="$build/bin/FakeEmulator.exe"
for f in "$host" "$emulator" "$build/bin/Corvane.dll" "$build/bin/7-zip32.dll"; do
  [ -f "$f" ] || { echo "demo: $f is missing; build first (./corvane build)" >&2; exit 2; }
done

# A person can watch only a display that is not a virtual frame buffer.
interactive=0
if [ "$check" = 0 ]; then
  case "${CORVANE_DEMO_INTERACTIVE:-}" in
    1) interactive=1 ;;
    0) interactive=0 ;;
    *)
      # The session's own X server is a virtual one nobody watches.
      if [ -z "${CORVANE_OWN_DISPLAY:-}" ]; then
        n=${DISPLAY#*:}
        n=${n%%.*}
        server_pid=$(tr -d ' \n' <"/tmp/.X${n}-lock" 2>/dev/null || true)
        server=$( [ -n "$server_pid" ] && cat "/proc/$server_pid/comm" 2>/dev/null || true)
        [ "$server" != "Xvfb" ] && interactive=1
      fi
      ;;
  esac
fi

# --- the sample collection -------------------------------------------------------
rm -rf "$demo"
mkdir -p "$demo/roms" "$demo/extract" "$demo/data" "$demo/shots"
python3 - "$demo" <<'PY'
# ROM images with 16-byte iNES-style headers in a small folder tree, two of
# them packed by the real zip and 7zz, one that the host keeps locked while it
# registers, one dumped without its header, one a copy of another under a
# second name, and a manifest with each ROM's CRC-32 after the 16 bytes the
# dataset skips, computed here, independently of the plug-in and the host.
import os, random, subprocess, sys, zlib

demo = sys.argv[1]
roms = os.path.join(demo, "roms")
stage = os.path.join(demo, "stage")
os.makedirs(stage)

def image(seed, prg_banks, chr_banks, flags):
    body = random.Random(seed).randbytes(prg_banks * 16384 + chr_banks * 8192)
    header = b"NES\x1a" + bytes([prg_banks, chr_banks, flags, 0]) + bytes(8)
    return header, body

# (path below roms/, seed, PRG banks, CHR banks, mapper flags, archive tool or
# the case the manifest notes: "locked", "no header", "copy of <path>")
collection = [
    ("alpha.nes", 1, 2, 1, 0x01, None),
    ("beta rom.nes", 2, 1, 0, 0x00, None),             # a space in the name
    ("sub/gamma.nes", 3, 1, 1, 0x10, None),
    ("sub/テスト表示ソフト.nes", 4, 1, 1, 0x00, None),  # 表 and ソ end in byte 0x5C in code page 932
    ("sub/deeper/delta.nes", 5, 2, 0, 0x40, None),
    ("sub/deeper/eta locked.nes", 8, 1, 1, 0x00, "locked"),  # held open without sharing
    ("packed/epsilon.zip", 6, 1, 1, 0x01, "zip"),
    ("packed/zeta.7z", 7, 2, 1, 0x00, "7z"),
    ("sub/theta.nes", 9, 1, 1, 0x00, "no header"),  # dumped without its header
    ("sub/alpha again.nes", 1, 2, 1, 0x01, "copy of alpha.nes"),  # the same bytes, another name
]
skip = 16
os.makedirs(os.path.join(roms, "empty"))
lines = ["# path\tROM size\tbytes skipped\tCRC after them\tarchive's first entry\tcase"]
for rel, seed, prg, chr_, flags, tool in collection:
    header, body = image(seed, prg, chr_, flags)
    if tool == "no header":
        assert body[:4] not in (b"NES\x1a", b"FDS\x1a")
        header = b""
    rom = header + body
    target = os.path.join(roms, rel)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    entry = ""
    if tool not in ("zip", "7z"):
        with open(target, "wb") as f:
            f.write(rom)
    else:
        entry = os.path.splitext(os.path.basename(rel))[0] + ".nes"
        with open(os.path.join(stage, entry), "wb") as f:
            f.write(rom)
        if tool == "zip":
            subprocess.run(["zip", "-q", "-X", target, entry], cwd=stage, check=True)
        else:
            subprocess.run(["7zz", "a", "-bd", "-y", target, entry], cwd=stage, check=True,
                           stdout=subprocess.DEVNULL)
    crc = "%08X" % (zlib.crc32(rom[skip:]) & 0xFFFFFFFF)
    case = "" if tool in (None, "zip", "7z") else tool
    lines.append("\t".join([rel, str(len(rom)), str(skip), crc, entry, case]))
with open(os.path.join(demo, "manifest.txt"), "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
for name in os.listdir(stage):
    os.remove(os.path.join(stage, name))
os.rmdir(stage)
PY

# The NES dataset's emulator: our fake one, logging every start.
show=""
[ "$interactive" = 1 ] && show=" --show"
printf '[NES]\r\ncommand="%s" --log "%s"%s "%%1"\r\n' \
  "$(wine_path "$emulator")" "$(wine_path "$demo/emulator.log")" "$show" >"$demo/data/emulators.ini"

if [ "$interactive" = 1 ]; then
  cat <<EOF
demo: opening the host for you. Try:
  1. Dataset NES; menu Corvane > 設定: header 16, ROM folder $(wine_path "$demo/roms")\\,
     サブフォルダ 全て, tick ロムファイルを解凍する, extraction folder $(wine_path "$demo/extract")\\, OK.
  2. Corvane > ロムの追加 registers the collection; the box at its end points to
     NES.log, which names the ROM without a header and the copy of another.
  3. Right-click a ROM > エミュレータ起動(Corvane): the fake emulator shows what it would start.
EOF
  wine "$host" --data "$(wine_path "$demo/data")" --dataset NES
  exit $?
fi

# --- the scripted run --------------------------------------------------------------
# The host's output goes through a file: a Wine helper it starts (the desktop's
# process) inherits its streams and outlives it, and would keep a reader of a
# pipe (ctest) waiting until the whole session ends. As a test, the host runs
# on a desktop of its own, beside other tests' windows; its exit code then
# comes back in a file.
run=(wine)
[ "$check" = 1 ] && run=(wine explorer "/desktop=corvane-e2e$$,1280x1024")
rm -f "$demo/status.txt"
set +e
timeout 600 "${run[@]}" "$host" --script "$(wine_path "$demo")" --report "$(wine_path "$demo/report.txt")" \
  --shots "$(wine_path "$demo/shots")" --status "$(wine_path "$demo/status.txt")" </dev/null >"$demo/host-output.txt" 2>&1
status=$?
set -e
cat "$demo/host-output.txt"
[ "$status" != 0 ] || status=$(tr -d '\r\n' <"$demo/status.txt" 2>/dev/null || echo "no status")

failed=0
if [ -f "$demo/report.txt" ]; then
  cat "$demo/report.txt"
else
  echo "demo: the host wrote no report" >&2
  failed=1
fi
[ "$status" = 0 ] || { echo "demo: the host exited with $status" >&2; failed=1; }

for shot in host-window settings-dialog registration-dialog report-box; do
  if [ -f "$demo/shots/$shot.bmp" ] && convert "$demo/shots/$shot.bmp" "$demo/$shot.png"; then
    rm -f "$demo/shots/$shot.bmp"
    echo "screenshot: $demo/$shot.png"
  else
    echo "demo: no screenshot $shot" >&2
    failed=1
  fi
done
rmdir "$demo/shots" 2>/dev/null || true

if [ "$check" = 1 ]; then
  # Seen from outside Wine as well: nothing of the registration is left behind,
  # the emulator was started once per ROM that was not locked, and the run's
  # log has a line for each locked ROM and each one it warned about.
  left=$(find "$demo/data/temp" -mindepth 1 2>/dev/null | wc -l)
  [ -d "$demo/data/temp" ] && [ "$left" = 0 ] || { echo "e2e: $left entries left in the temp folder" >&2; failed=1; }
  roms=$(awk -F'\t' '!/^#/ && $6 != "locked"' "$demo/manifest.txt" | wc -l)
  locked=$(awk -F'\t' '!/^#/ && $6 == "locked"' "$demo/manifest.txt" | wc -l)
  warned=$(awk -F'\t' '!/^#/ && ($6 == "no header" || $6 ~ /^copy of /)' "$demo/manifest.txt" | wc -l)
  logged=$(tr -d '\r' 2>/dev/null <"$demo/data/NES.log" | grep -c . || true)
  [ "$logged" = $((locked + warned)) ] ||
    { echo "e2e: NES.log lists $logged entries for $locked locked and $warned warned-about ROMs" >&2; failed=1; }
  starts=$(cat "$demo/emulator.log" 2>/dev/null | grep -c "^OK" || true)
  [ "$starts" = "$roms" ] || { echo "e2e: the emulator found $starts of $roms ROMs" >&2; failed=1; }
  grep -qx 'result: PASS' "$demo/report.txt" 2>/dev/null || failed=1
fi

if [ "$failed" = 0 ]; then
  echo "demo: PASS"
else
  echo "demo: FAIL" >&2
fi
exit "$failed"
