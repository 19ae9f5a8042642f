#!/usr/bin/env bash
# The set-up script against stand-ins for the package tools, first on PATH:
# what it asks apt-get for, whether it generates the locale, and whether its
# "ok" is true. Needs no network and no root.
# Usage: setup_test.sh [SETUP_SCRIPT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
setup=${1:-$root/scripts/setup.sh}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
bin=$scratch/bin
mkdir -p "$bin"

# The stand-ins keep the machine's state in files under $STATE: installed
# (one package a line), arches, locales, asked (what apt-get install was
# given) and generated (locale-gen's runs). unavailable names packages that
# apt-get "installs" without effect, as when a mirror lacks them.
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$bin/$1" && chmod +x "$bin/$1"; }
stand_in dpkg-query 'p=${@: -1}; grep -qxF -- "$p" "$STATE/installed" || exit 1; echo -n "install ok installed"'
stand_in dpkg 'case $1 in
  --print-foreign-architectures) cat "$STATE/arches" ;;
  --add-architecture) echo "$2" >>"$STATE/arches" ;;
  *) exit 2 ;; esac'
stand_in apt-get '[ "$1" = update ] && exit 0
[ "$1" = install ] || exit 2
shift
for p in "$@"; do
  case $p in -*) continue ;; esac
  echo "$p" >>"$STATE/asked"
  grep -qxF -- "$p" "$STATE/unavailable" && continue
  echo "$p" >>"$STATE/installed"
  # As on a minimal Debian: locale.gen comes with the locales package.
  [ "$p" = locales ] && echo "# ja_JP.UTF-8 UTF-8" >>"$CORVANE_LOCALE_GEN"
done
exit 0'
stand_in locale '[ "$1" = -a ] && cat "$STATE/locales"'
stand_in locale-gen 'echo run >>"$STATE/generated"
grep -q "^ja_JP.UTF-8 UTF-8" "$CORVANE_LOCALE_GEN" && echo ja_JP.utf8 >>"$STATE/locales"; exit 0'
stand_in sudo '"$@"'
stand_in id '[ "$1" = -u ] && echo 0'

# Every package the script installs, read from the script itself.
mapfile -t all < <(sed -n '/^packages=(/,/^)/p' "$setup" | sed '1d;$d' | tr ' ' '\n' | sed '/^$/d')
[ "${#all[@]}" -gt 5 ] || { echo "FAIL: no package list found in $setup"; exit 1; }

failures=0
# run_case NAME LOCALE_THERE UNAVAILABLE MISSING...: the machine has every
# package but the MISSING ones ("all": none, not even the i386 architecture,
# nor locale.gen), then the script runs and what it did is checked.
run_case() {
  local name=$1 locale_there=$2 unavailable=$3
  shift 3
  local missing=("$@") p
  export STATE=$scratch/$name CORVANE_LOCALE_GEN=$scratch/$name/locale.gen
  mkdir -p "$STATE"
  : >"$STATE/installed"; : >"$STATE/asked"; : >"$STATE/generated"; : >"$STATE/locales"
  printf '%s\n' $unavailable >"$STATE/unavailable"
  if [ "${missing[0]:-}" = all ]; then
    missing=("${all[@]}")
    : >"$STATE/arches"
  else
    echo i386 >"$STATE/arches"
    for p in "${all[@]}"; do
      [[ " ${missing[*]:-} " == *" $p "* ]] || echo "$p" >>"$STATE/installed"
    done
    echo "ja_JP.UTF-8 UTF-8" >"$CORVANE_LOCALE_GEN"
  fi
  [ "$locale_there" = yes ] && echo ja_JP.utf8 >"$STATE/locales"
  local status=0 output
  output=$(PATH="$bin:$PATH" bash "$setup" 2>&1) || status=$?
  local asked want
  asked=$(sort "$STATE/asked" | paste -sd' ' -)
  want=$(printf '%s\n' "${missing[@]}" | sed '/^$/d' | sort | paste -sd' ' -)
  fail() { echo "FAIL $name: $1"; echo "$output" | sed 's/^/    /'; failures=$((failures + 1)); }
  [ "$asked" = "$want" ] || fail "asked apt-get for [$asked], want [$want]"
  if [ "$locale_there" = yes ]; then
    [ ! -s "$STATE/generated" ] || fail "generated the locale again"
  else
    grep -qx ja_JP.utf8 "$STATE/locales" || fail "the locale was not generated"
  fi
  if [ -n "$unavailable" ]; then
    [ "$status" != 0 ] || fail "exit status 0 with $unavailable not installed"
    [[ $output != *"setup: ok"* ]] || fail "said ok with $unavailable not installed"
    [[ $output == *"$unavailable"* ]] || fail "did not name $unavailable"
  else
    [ "$status" = 0 ] || fail "exit status $status"
    [[ $output == *"setup: ok"* ]] || fail "did not say ok"
  fi
  [ "$failures" -gt 0 ] || echo "ok $name"
}

#        name             locale there  unavailable  missing packages
run_case nothing          no            ""           all
run_case everything       yes           ""
run_case one_missing      yes           ""           wine32:i386
run_case two_missing      yes           ""           g++-mingw-w64-i686 xvfb
run_case two_and_locale   no            ""           cmake fonts-wine
run_case not_installable  yes           7zip         7zip zip

# The build folder heals: a configure that failed, or a folder configured by
# another version, is configured again by the next build. A stand-in cmake
# records what it is asked; a failed configure leaves a cache that fails again
# if it is reused, as one that cached a compiler it did not find does.
stand_in cmake 'case $1 in
  --version) echo "cmake version 3.99.0" ;;
  -S) echo configure >>"$STATE/cmake"
    cache=$4/CMakeCache.txt
    mkdir -p "$4"
    grep -qs NOTFOUND "$cache" && exit 1
    if [ -e "$STATE/configure_fails" ]; then echo "CMAKE_CXX_COMPILER:FILEPATH=NOTFOUND" >"$cache"; exit 1; fi
    echo "CMAKE_HOME_DIRECTORY:INTERNAL=$2" >"$cache" ;;
  --build) echo build >>"$STATE/cmake" ;;
esac'
project=$scratch/project
mkdir -p "$project/scripts" "$project/cmake" "$project/host"
cp "$root/corvane" "$project/"
cp "$root/scripts/wine-env.sh" "$project/scripts/"
echo "project(x)" >"$project/CMakeLists.txt"
echo "# host" >"$project/host/CMakeLists.txt"
echo "# toolchain" >"$project/cmake/mingw-i686.cmake"
export STATE=$scratch/build_case
mkdir -p "$STATE"
touch "$STATE/configure_fails"
# build_step NAME WANT_STATUS WANT_CALLS: one ./corvane build, and the cmake
# calls it made.
build_step() {
  : >"$STATE/cmake"
  local status=0 output calls
  output=$(PATH="$bin:$PATH" CORVANE_SET_UP=1 bash "$project/corvane" build 2>&1) || status=$?
  calls=$(paste -sd' ' "$STATE/cmake")
  if [ "$status" != "$2" ] || [ "$calls" != "$3" ]; then
    echo "FAIL build $1: status $status, cmake calls [$calls]; want $2, [$3]"
    echo "$output" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok build $1"
  fi
}
build_step configure_fails 1 "configure"
rm "$STATE/configure_fails"
build_step after_failure 0 "configure build build"
build_step configured 0 "build build"
echo "# changed" >>"$project/CMakeLists.txt"
build_step other_version 0 "configure build build"
[ "$failures" = 0 ] || exit 1
