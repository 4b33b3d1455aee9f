#!/usr/bin/env bash
# Builds the Windows tree and runs its tests as Windows programs under wine,
# inside a virtual X server (the window tests need one).
#   scripts/wine-tests.sh [ctest arguments...]
# The product is the 32-bit build (preset mingw), always built with its tests,
# so that nothing compiles for x86-64 alone. The tests run under wine32 where
# this machine runs 32-bit programs; where the kernel has 32-bit support
# switched off, wine32 cannot start at all: there they are built only, and the
# same sources are built for 64-bit Windows (preset mingw64) and tested under
# 64-bit wine instead. ZELO_NO_WINE32=1 takes that path on any machine (to check
# it where wine32 runs).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"
inside=""
if [ "${1:-}" = --in-x ]; then
  inside="$2" # the preset built before
  shift 2
fi

can_run() { "$@" --version > /dev/null 2>&1; }

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "${ZELO_NO_WINE32:-0}" != 1 ] && can_run /usr/lib/wine/wine; then
  preset=mingw
  export WINEARCH=win32 WINEPREFIX="$PWD/build/wineprefix"
  wine=(wine)
  wineserver=(wineserver)
elif can_run /usr/lib/wine/wine64; then
  preset=mingw64
  export WINEARCH=win64 WINEPREFIX="$PWD/build/wineprefix64"
  wine=(/usr/lib/wine/wine64)
  wineserver=(/usr/lib/wine/wineserver64)
  [ -n "$inside" ] || echo "-- this machine runs no 32-bit programs: the 32-bit build is built only; tests run in the 64-bit one"
else
  preset=""
  echo "-- no wine that runs here: the Windows build is built only"
fi

if [ -z "$inside" ]; then
  # A compiler cache where the machine has one (developers' machines; CI starts cold).
  launcher=()
  if command -v ccache > /dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  # The product: zelo.dll (and the program once it exists), importing only system DLLs.
  # Its tests too, run or not: a test that compiles only for x86-64 is a fault.
  cmake --preset mingw -DZELO_TESTS=ON "${launcher[@]}" > /dev/null
  cmake --build build/mingw -j"$JOBS"
  [ "$preset" = mingw ] || echo "-- the 32-bit tests are built; they run where wine32 starts"
  for f in build/mingw/plugin/zelo.dll build/mingw/host/zelo.exe build/mingw/host/zelo.com; do
    [ -f "$f" ] || continue
    imports="$(i686-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
    echo "-- $(basename "$f") imports: $imports"
    for d in $imports; do
      case "${d,,}" in
        kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll | advapi32.dll | ole32.dll | oleaut32.dll | \
          comdlg32.dll | shell32.dll | winmm.dll | comctl32.dll | ws2_32.dll | windowscodecs.dll) ;;
        *) echo "$f imports $d, which is no system DLL" >&2; exit 1 ;;
      esac
    done
  done
  [ -n "$preset" ] || exit 0

  if [ "$preset" = mingw64 ]; then
    cmake --preset mingw64 "${launcher[@]}" > /dev/null
    cmake --build build/mingw64 -j"$JOBS"
  fi
  echo "-- the Windows build took ${SECONDS} s"
  # Again, inside a virtual X server of its own: the window tests need one.
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --in-x "$preset" "$@"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 180 "${wine[@]}" wineboot -i > /dev/null 2>&1 || true
fi
# This wine does not read its own font folder: without the copy, "Tahoma"
# falls back to another face.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2> /dev/null || true
# A virtual desktop: without a window manager each window teardown waits ~2 s.
"${wine[@]}" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f > /dev/null 2>&1 || true
"${wine[@]}" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f > /dev/null 2>&1 || true
# Sound through ALSA alone, whose default device the wave tests make the null
# PCM: wine would otherwise try PulseAudio first and take a server that happens
# to run on the machine.
"${wine[@]}" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f > /dev/null 2>&1 || true
# The session wineboot started has a desktop without the virtual one (a fresh
# prefix, as on CI): end it and start the next here, with output to nowhere, so
# that its services do not hold a test's output pipe open after the test.
"${wineserver[@]}" -k 2> /dev/null || true
"${wineserver[@]}" -w 2> /dev/null || true
timeout 120 "${wine[@]}" wineboot > /dev/null 2>&1 || true

# One wine server for the whole run: otherwise every test program starts its
# own (and the desktop with it), which costs seconds each.
"${wineserver[@]}" -p > /dev/null 2>&1 || true
status=0
(cd "build/$preset" && ctest --output-on-failure --timeout 300 "$@") || status=$?
"${wineserver[@]}" -k 2> /dev/null || true
echo "-- wine and its tests took ${SECONDS} s"
exit $status
