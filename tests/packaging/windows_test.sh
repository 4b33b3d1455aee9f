#!/usr/bin/env bash
# The Windows packages from a 32-bit mingw tree: the zip's file list and its
# CR LF texts, the installer's contents, and, where wine32 starts, the
# installer run silently (default folders, then folders given on the command
# line): files in place, Start menu entries, the uninstaller's registry entries,
# and a silent uninstall that leaves none of it.
#   tests/packaging/windows_test.sh [BUILD_DIR]   (default build/mingw)
set -euo pipefail
cd "$(dirname "$0")/../.."
# wine's desktop wants an X display, even for a silent installer.
if [ -z "${DISPLAY:-}" ] && [ -z "${ZELO_IN_XVFB:-}" ] && command -v xvfb-run > /dev/null; then
  ZELO_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
build="${1:-build/mingw}"
out="$build/win-dist"
rm -rf "$out"
mapfile -t made < <(packaging/windows/make-packages.sh "$build" "$out")
zip_file="${made[0]}"
setup="${made[1]}"
version="$(sed -n 's/^#define ZELO_VERSION "\(.*\)"$/\1/p' "$build/generated/zelo_version.h")"
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

[ "$(basename "$zip_file")" = "zelo-$version-win32.zip" ] || bad "zip named $(basename "$zip_file")"
[ "$(basename "$setup")" = "zelo-$version-win32-setup.exe" ] || bad "installer named $(basename "$setup")"

# What the build made decides what the packages carry.
program=(zelo.exe)
[ -f "$build/host/zelo.com" ] && program+=(zelo.com)
clap=()
[ -f "$build/plugin/zelo.clap" ] && clap=(zelo.clap)

expected_zip="$(printf 'zelo-%s/\n' "$version"; for f in "${program[@]}" zelo.dll "${clap[@]}" README.txt LICENSE.txt; do
  printf 'zelo-%s/%s\n' "$version" "$f"; done | sort)"
actual_zip="$(unzip -Z1 "$zip_file" | sort)"
[ "$actual_zip" = "$expected_zip" ] || bad "zip holds
$actual_zip
instead of
$expected_zip"
for t in README.txt LICENSE.txt; do
  text="$(unzip -p "$zip_file" "zelo-$version/$t" | od -An -c | tr -s ' ')"
  lines="$(unzip -p "$zip_file" "zelo-$version/$t" | wc -l)"
  crlf="$(unzip -p "$zip_file" "zelo-$version/$t" | grep -c $'\r$' || true)"
  [ "$lines" -gt 0 ] && [ "$crlf" = "$lines" ] || bad "$t: $crlf of $lines lines end in CR LF"
  [ -n "$text" ] || bad "$t is empty"
done
unzip -p "$zip_file" "zelo-$version/LICENSE.txt" | grep -q "ISC License" || bad "LICENSE.txt is not the ISC licence"
# The zip's program and plug-in are the build's (stripped copies keep their exports).
unzip -p "$zip_file" "zelo-$version/zelo.dll" > "$out/zelo.dll"
exports="$(i686-w64-mingw32-objdump -p "$out/zelo.dll")"
grep -q "VSTPluginMain" <<< "$exports" || bad "zelo.dll in the zip lost its entry"
# Each program and module says which release it is (its version resource, in
# UTF-16: the key and value run together once the zero bytes are dropped).
for f in "${program[@]}" zelo.dll "${clap[@]}"; do
  info="$(unzip -p "$zip_file" "zelo-$version/$f" | LC_ALL=C tr -d '\0' | grep -ao "ProductVersion$version\|OriginalFilename$f" | sort -u | tr '\n' ' ')"
  [ "$info" = "OriginalFilename$f ProductVersion$version " ] || bad "$f has no version resource of $version (saw: $info)"
done

# The installer's payload.
listing="$(7z l -slt "$setup" | sed -n 's/^Path = //p' | tr '\\' '/')"
for f in "${program[@]}" zelo.dll "${clap[@]}" README.txt LICENSE.txt uninstall.exe; do
  grep -q "\(^\|/\)$f\$" <<< "$listing" || bad "installer lacks $f"
done
echo "-- $(basename "$zip_file"): $(wc -l <<< "$actual_zip") entries; $(basename "$setup"): $(grep -vc '^\$PLUGINSDIR\|\.7z$\|setup.exe$' <<< "$listing") files"

if ! /usr/lib/wine/wine --version > /dev/null 2>&1; then
  echo "-- wine32 does not start here: the installer is built and listed only"
  echo "$listing" | sed 's/^/   /'
  exit $fail
fi

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${ZELO_WINEPREFIX:-$PWD/build/wineprefix}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 180 wine wineboot -i > /dev/null 2>&1 || true
fi
drive_c="$WINEPREFIX/drive_c"
uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zelo'

reg_value() { # key value -> data
  wine reg query "$1" /v "$2" 2> /dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
unix_path() { # C:\a\b -> $drive_c/a/b
  local p="${1#[Cc]:\\}"
  echo "$drive_c/${p//\\//}"
}
# The installer's registry view, its files, and what the uninstaller leaves.
check_installed() { # program_dir(C:) vst_dir(C:)
  local prog vst
  prog="$(unix_path "$1")"
  vst="$(unix_path "$2")"
  for f in "${program[@]}" README.txt LICENSE.txt uninstall.exe; do
    [ -f "$prog/$f" ] || bad "not installed: $1\\$f"
  done
  [ -f "$vst/zelo.dll" ] || bad "VST plug-in not in $2"
  for f in "${clap[@]}"; do
    [ -f "$drive_c/Program Files/Common Files/CLAP/$f" ] || bad "CLAP plug-in not in the common CLAP folder"
  done
  for l in zelo.lnk "Uninstall zelo.lnk"; do
    [ -f "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/zelo/$l" ] || bad "no Start menu entry $l"
  done
  [ "$(reg_value "$uninst" DisplayName)" = "zelo $version" ] || bad "DisplayName: $(reg_value "$uninst" DisplayName)"
  [ "$(reg_value "$uninst" DisplayVersion)" = "$version" ] || bad "DisplayVersion"
  [ "$(reg_value "$uninst" UninstallString)" = "\"$1\\uninstall.exe\"" ] || bad "UninstallString: $(reg_value "$uninst" UninstallString)"
  [ "$(reg_value "$uninst" QuietUninstallString)" = "\"$1\\uninstall.exe\" /S" ] || bad "QuietUninstallString"
  [ "$(reg_value "$uninst" InstallLocation)" = "$1" ] || bad "InstallLocation: $(reg_value "$uninst" InstallLocation)"
  [ -n "$(reg_value "$uninst" Publisher)" ] || bad "no Publisher"
}
uninstall_and_check() { # program_dir(C:) vst_dir(C:) [folders that must stay]
  local prog vst
  prog="$(unix_path "$1")"
  vst="$(unix_path "$2")"
  wine "$1\\uninstall.exe" /S || bad "uninstaller failed"
  # The uninstaller runs on from a copy of itself: wait until it is done.
  for _ in $(seq 60); do
    [ -e "$prog" ] || break
    sleep 1
  done
  [ ! -e "$prog" ] || bad "program folder left: $(ls "$prog")"
  [ ! -e "$vst/zelo.dll" ] || bad "VST plug-in left in $2"
  [ ! -e "$drive_c/Program Files/Common Files/CLAP/zelo.clap" ] || bad "CLAP plug-in left"
  [ ! -e "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/zelo" ] || bad "Start menu folder left"
  wine reg query "$uninst" > /dev/null 2>&1 && bad "uninstall entry left"
  wine reg query 'HKLM\Software\zelo' > /dev/null 2>&1 && bad "HKLM\\Software\\zelo left"
  return 0
}

start=$SECONDS
# 1. Defaults: Program Files\zelo, and the usual VST folder, which the
#    installer made and so removes again.
wine "$setup" /S || bad "silent install failed"
check_installed 'C:\Program Files\zelo' 'C:\Program Files\Steinberg\VstPlugins'
uninstall_and_check 'C:\Program Files\zelo' 'C:\Program Files\Steinberg\VstPlugins'
[ ! -e "$drive_c/Program Files/Steinberg" ] || bad "the VST folder the installer made is left"

# 2. Folders given: a VST folder that exists already keeps its other plug-ins.
mkdir -p "$drive_c/zelo-test/vst"
echo other > "$drive_c/zelo-test/vst/other.dll"
# As typed at a Windows prompt: /D= comes last and unquoted, spaces and all
# (wine would quote an argument with a space, so cmd gets the line as it is).
wine cmd /c "$(winepath -w "$setup") /S /VSTDIR=C:\zelo-test\vst /D=C:\zelo-test\program files" ||
  bad "silent install with folders failed"
check_installed 'C:\zelo-test\program files' 'C:\zelo-test\vst'
[ "$(reg_value 'HKLM\Software\zelo' VstDir)" = 'C:\zelo-test\vst' ] || bad "VST folder not recorded"
uninstall_and_check 'C:\zelo-test\program files' 'C:\zelo-test\vst'
[ -f "$drive_c/zelo-test/vst/other.dll" ] || bad "the uninstaller took another plug-in"
rm -rf "$drive_c/zelo-test"
echo "-- installer under wine32: installed, checked, uninstalled twice in $((SECONDS - start)) s"
# Its desktop ends with wine, before the virtual X server does.
wineserver -k 2> /dev/null || true
exit $fail
