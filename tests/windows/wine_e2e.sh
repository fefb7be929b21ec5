#!/usr/bin/env bash
# Runs the shipped tessaroot.exe end to end under 32-bit Wine, in a fresh
# Wine prefix, as each Windows version that Wine can pretend to be.
# Usage: wine_e2e.sh EXE
set -u
exe=$(readlink -f "$1")
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
wineboot -i >/dev/null 2>&1

failures=0 passes=0
check() {  # name, condition...
  local name=$1; shift
  if "$@"; then echo "ok: $name"; passes=$((passes + 1)); else echo "FAILED: $name"; failures=$((failures + 1)); fi
}

# cmd reports the full 32-bit exit code as a signed decimal.
run() {  # version, arguments...
  local version=$1; shift
  wine winecfg -v "$version" >/dev/null 2>&1
  cp "$exe" "$work/tessaroot.exe"
  printf '@echo off\r\ntessaroot.exe %s 2> stderr.txt > stdout.txt\r\necho %%ERRORLEVEL%%> status.txt\r\n' "$*" > "$work/run.bat"
  (cd "$work" && wine cmd /c run.bat >/dev/null 2>&1)
  status=$(tr -d '\r\n' < "$work/status.txt")
  stderr=$(tr -d '\r' < "$work/stderr.txt")
  stdout=$(cat "$work/stdout.txt")
}

refused_prefix="Error 0x800401fa resetting HKEY_CLASSES_ROOT registry permissions: "

for version in win10 win2003 vista; do
  run "$version"
  check "$version is refused with 0x800401FA" test "$status" = "-2147220998"
  check "$version writes one top-level line" test "$(printf '%s\n' "$stderr" | wc -l)" = 1
  check "$version line names the HRESULT" test "${stderr#"$refused_prefix"}" != "$stderr"
  check "$version writes nothing to standard output" test -z "$stdout"
done

# Wine stores a DACL set with inheritance switched on as it is given, without
# merging the entries the key inherits from its parent (Windows merges them).
# So under Wine every key directly below the root is left with the empty DACL,
# the walk's next open of it is denied, and the tool must report exactly those
# keys, one line each, and finish with status 0.
top_level_keys() {
  (cd "$work" && wine reg query 'HKLM\Software\Classes' 2>/dev/null) | tr -d '\r' |
    sed -n 's/^HKEY_LOCAL_MACHINE\\Software\\Classes\\//p' | sort
}
reported_keys() {
  printf '%s\n' "$stderr" | sed -n 's/^Error 0x80070005 processing subkey \(.*\): .*$/\1/p' | sort
}

for version in winxp win2k; do
  run "$version"
  first="$status:$stderr"
  check "$version exits 0" test "$status" = 0
  check "$version writes nothing to standard output" test -z "$stdout"
  check "$version reports one line per key below the root and nothing else" \
    test "$(reported_keys)" = "$(top_level_keys)" -a "$(printf '%s\n' "$stderr" | wc -l)" = "$(top_level_keys | wc -l)"
  check "$version walks a real class tree" test "$(top_level_keys | wc -l)" -gt 100
  run "$version" "/?" "--help"
  check "$version ignores arguments" test "$status:$stderr" = "$first"
done

echo "wine: $passes passed, $failures failed"
[ "$failures" = 0 ]
