#!/usr/bin/env bash
# The Windows packages from a 32-bit mingw build tree:
#   packaging/windows/make-packages.sh BUILD_DIR OUT_DIR
# writes OUT_DIR/zelo-VERSION-win32.zip (a folder zelo-VERSION with the program,
# the plug-ins, README.txt and LICENSE.txt, text with CR LF) and
# OUT_DIR/zelo-VERSION-win32-setup.exe (NSIS). Prints the two paths.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$(cd "$here/../.." && pwd)"
build="$(cd "$1" && pwd)"
mkdir -p "$2"
out="$(cd "$2" && pwd)"

version="$(sed -n 's/^#define ZELO_VERSION "\(.*\)"$/\1/p' "$build/generated/zelo_version.h")"
[ -n "$version" ] || { echo "no version in $build/generated/zelo_version.h" >&2; exit 1; }
name="zelo-$version"
stage="$build/win-packages/$name"
rm -rf "$build/win-packages"
mkdir -p "$stage"

# Program files as the build made them: zelo.exe and, where built, a console
# companion beside it; the plug-ins: zelo.dll (VST 2.4) and zelo.clap.
need() { [ -f "$1" ] || { echo "missing $1 (build it first)" >&2; exit 1; }; }
need "$build/host/zelo.exe"
need "$build/plugin/zelo.dll"
cp "$build/host/zelo.exe" "$build/plugin/zelo.dll" "$stage/"
nsis_defs=()
[ -f "$build/host/zelo.com" ] && cp "$build/host/zelo.com" "$stage/" && nsis_defs+=(-DWITH_CONSOLE)
[ -f "$build/plugin/zelo.clap" ] && cp "$build/plugin/zelo.clap" "$stage/" && nsis_defs+=(-DWITH_CLAP)
strip=i686-w64-mingw32-strip
command -v "$strip" > /dev/null && "$strip" --strip-unneeded "$stage"/zelo.exe "$stage"/zelo.dll \
  $([ -f "$stage/zelo.com" ] && echo "$stage/zelo.com") $([ -f "$stage/zelo.clap" ] && echo "$stage/zelo.clap")
# Text as Windows editors want it.
sed 's/\r$//; s/$/\r/' "$src/README.md" > "$stage/README.txt"
sed 's/\r$//; s/$/\r/' "$src/LICENSE" > "$stage/LICENSE.txt"

zip_file="$out/$name-win32.zip"
rm -f "$zip_file"
(cd "$build/win-packages" && zip -q -X -r "$zip_file" "$name")

setup="$out/$name-win32-setup.exe"
cp "$src/host/zelo.ico" "$build/win-packages/zelo.ico"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" \
  "${nsis_defs[@]}" -DICON="$build/win-packages/zelo.ico" "$here/zelo.nsi" > "$build/win-packages/makensis.log" ||
  { cat "$build/win-packages/makensis.log" >&2; exit 1; }
echo "$zip_file"
echo "$setup"
