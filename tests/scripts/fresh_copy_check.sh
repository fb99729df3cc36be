#!/usr/bin/env bash
# Runs one of the README's scripts in --check mode inside a copy of the tree
# as a fresh clone holds it (no build/ folder), and checks that it reads its
# arguments, makes its folders, and neither installs nor builds anything.
#   fresh_copy_check.sh SOURCE_DIR fuzz|run|test
set -euo pipefail
SRC="$1"
SCRIPT="$2"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/quorl-fresh-copy-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
unset QUORL_BUILD_DIR QUORL_FUZZ_BUILD_DIR QUORL_WERROR

# What the scripts read of the tree: themselves and the fuzz seeds.
T="$WORK/tree"
mkdir -p "$T/fuzz"
cp -R "$SRC/scripts" "$SRC/CMakeLists.txt" "$T/"
cp -R "$SRC/fuzz/corpus" "$T/fuzz/"

# Installing or building leaves a line here: apt, sudo and dpkg-query always,
# and, for the calls that must stop at their arguments, the build tools too.
CALLED="$WORK/called"
stubs() {
  local dir="$WORK/stubs-$1"
  shift
  mkdir -p "$dir"
  for tool in "$@"; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\nexit 1\n' "$tool" "$CALLED" >"$dir/$tool"
    chmod +x "$dir/$tool"
  done
  echo "$dir"
}
CHECK_PATH="$(stubs check apt-get apt sudo dpkg-query):$PATH"
ARGS_PATH="$(stubs args apt-get apt sudo dpkg-query cmake ctest ninja clang clang++ c++ g++):$PATH"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
OUT="$WORK/out"
ERR="$WORK/err"
# run PATH ENV... -- COMMAND...: the exit code lands in $code.
run() {
  local path="$1"
  shift
  local env=()
  while [ "$1" != "--" ]; do
    env+=("$1")
    shift
  done
  shift
  code=0
  (cd "$T" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM PATH="$path" "${env[@]}" "$@") \
    >"$OUT" 2>"$ERR" </dev/null || code=$?
}
expect_ready() {
  run "$CHECK_PATH" "$@"
  [ "$code" -eq 0 ] || fail "$* exited $code: $(cat "$ERR")"
}
# expect_usage ENV... -- COMMAND...
expect_usage() {
  run "$ARGS_PATH" "$@"
  [ "$code" -eq 2 ] || fail "$* exited $code, not 2 (a usage error)"
  grep -q "usage:" "$ERR" || fail "$* gave no usage: $(cat "$ERR")"
}
expect_dirs() {
  for d in "$@"; do [ -d "$d" ] || fail "no folder $d"; done
}
expect_files() {
  for f in "$@"; do [ -f "$f" ] || fail "no file $f"; done
}
expect_said() {
  grep -qF -- "$1" "$OUT" || fail "expected \"$1\" in: $(cat "$OUT")"
}
# A call that gets past its arguments and the display to the install; the
# stubs make that fail at once. Its log is cleared for the checks after.
expect_goes_on_to_install() {
  run "$ARGS_PATH" "$@"
  [ "$code" -ne 0 ] && [ "$code" -ne 2 ] || fail "$* exited $code, not a failed install"
  grep -q "dpkg-query" "$CALLED" 2>/dev/null || fail "$* did not go on to the install: $(cat "$ERR")"
  grep -q "needs a display" "$ERR" && fail "$* asked for a display: $(cat "$ERR")"
  : >"$CALLED"
}
expect_nothing_built() {
  [ ! -s "$CALLED" ] || fail "installed or built: $(cat "$CALLED")"
  if [ -e "$T/build" ] && find "$T/build" -name CMakeCache.txt -o -name build.ninja | grep -q .; then
    fail "a build was configured: $(find "$T/build" -name CMakeCache.txt)"
  fi
}

[ ! -e "$T/build" ] || fail "the copy already has build/"
case "$SCRIPT" in
  fuzz)
    # Bad arguments stop before anything is made.
    for bad in "0" "ten" "-5" "1.5" "10 no_such_target" "10 ../corpus" "10 camera_file/"; do
      # shellcheck disable=SC2086
      expect_usage -- scripts/fuzz --check $bad
    done
    expect_usage -- scripts/fuzz --check 10 ""
    expect_usage QUORL_WERROR=yes -- scripts/fuzz --check 10
    [ ! -e "$T/build" ] || fail "a refused call made build/"
    targets="$(find "$T/fuzz/corpus" -mindepth 1 -maxdepth 1 -type d | wc -l)"
    expect_ready -- scripts/fuzz --check 10
    expect_said "fuzz: ready: $targets targets, 10 s each, build folder $T/build/fuzz"
    expect_dirs "$T/build/fuzz/corpus" "$T/build/fuzz/findings" "$T/build/fuzz/logs"
    expect_files "$T/build/fuzz.configure.log" "$T/build/fuzz.build.log"
    expect_ready -- scripts/fuzz --check
    expect_said "$targets targets, 60 s each"
    expect_ready -- scripts/fuzz --check 5 camera_file graph_file
    expect_said "2 targets, 5 s each"
    # A build folder of one's own, folders deep.
    expect_ready QUORL_FUZZ_BUILD_DIR="$WORK/elsewhere/deep/fuzz" -- scripts/fuzz --check 1 image_file
    expect_dirs "$WORK/elsewhere/deep/fuzz/logs"
    expect_files "$WORK/elsewhere/deep/fuzz.configure.log"
    ;;
  test)
    expect_usage -- scripts/test extra
    expect_usage -- scripts/test --check extra
    expect_usage QUORL_WERROR=on -- scripts/test --check
    expect_usage QUORL_WERROR=1 -- scripts/test
    [ ! -e "$T/build" ] || fail "a refused call made build/"
    expect_ready -- scripts/test --check
    expect_said "test: ready: build folder $T/build/test"
    expect_dirs "$T/build/test"
    expect_ready QUORL_BUILD_DIR="$WORK/elsewhere/deep/test" -- scripts/test --check
    expect_dirs "$WORK/elsewhere/deep/test"
    ;;
  run)
    for bad in "--check extra" "--build extra" "--build --check" "--check --build" "--build -style fusion"; do
      # shellcheck disable=SC2086
      expect_usage -- scripts/run $bad
    done
    expect_usage QUORL_WERROR=true -- scripts/run --check
    [ ! -e "$T/build" ] || fail "a refused call made build/"
    # --build needs no display (CI has none): it goes on to the install.
    expect_goes_on_to_install -- scripts/run --build
    expect_goes_on_to_install QUORL_WERROR=ON -- scripts/run --build
    # Without a display a run stops at once; the check says so and goes on.
    expect_ready -- scripts/run --check
    expect_said "run: ready: build folder $T/build/run; no display here"
    expect_dirs "$T/build/run"
    expect_ready QT_QPA_PLATFORM=offscreen QUORL_BUILD_DIR="$WORK/elsewhere/deep/run" -- scripts/run --check
    expect_said "run: ready: build folder $WORK/elsewhere/deep/run"
    grep -q "no display" "$OUT" && fail "offscreen counts as a display"
    expect_dirs "$WORK/elsewhere/deep/run"
    ;;
  *)
    echo "fresh_copy_check.sh: no script $SCRIPT" >&2
    exit 2
    ;;
esac
expect_nothing_built
[ "$failures" -eq 0 ] || { echo "$failures checks of scripts/$SCRIPT failed" >&2; exit 1; }
echo "scripts/$SCRIPT --check works in a fresh copy"
