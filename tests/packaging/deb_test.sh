#!/usr/bin/env bash
# The Debian package from a built Linux tree: every installed path against
# deb-paths.txt (a missing or a stray file fails), the control fields
# (version, dependencies found by dpkg-shlibdeps), the desktop entry against
# the files it names, the manual page against the program's modes, and
# lintian without errors.
#   tests/packaging/deb_test.sh [BUILD_DIR]   (default build/asan)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build/asan}"
out="$build/deb"
rm -rf "$out"
# gzip here: xz (the release's) costs a minute on an unstripped sanitizer build.
cpack --config "$build/CPackConfig.cmake" -B "$out" -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip > "$out.log" 2>&1 ||
  { cat "$out.log" >&2; exit 1; }
version="$(sed -n 's/^#define ZELO_VERSION "\(.*\)"$/\1/p' "$build/generated/zelo_version.h")"
deb="$out/zelo_${version}_amd64.deb"
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
[ -f "$deb" ] || { echo "FAIL: no $deb" >&2; ls "$out" >&2; exit 1; }

# The plug-in formats this tree builds.
formats=()
for f in lv2 clap; do
  grep -q "/CMakeFiles/zelo_$f.dir\$" "$build/CMakeFiles/TargetDirectories.txt" && formats+=("$f")
done
expected="$(grep -v '^#' tests/packaging/deb-paths.txt | while read -r a b; do
  if [ -z "$b" ]; then echo "$a"; else
    for f in "${formats[@]}"; do [ "$a" = "$f:" ] && echo "$b"; done
  fi
done | sort)"
listing="$(dpkg-deb -c "$deb")"
actual="$(awk '{print $6}' <<< "$listing" | sed 's|^\./|/|' | sort)"
if [ "$actual" != "$expected" ]; then
  bad "package paths differ from tests/packaging/deb-paths.txt (< expected, > packaged):"
  diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' >&2 || true
fi
owners="$(awk '{print $2}' <<< "$listing" | sort -u)"
[ "$owners" = "root/root" ] || bad "files owned by $owners"
grep -q '^-rwxr-xr-x .* \./usr/bin/zelo$' <<< "$listing" || bad "/usr/bin/zelo is not executable"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zelo ] || bad "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || bad "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || bad "Architecture: $(field Architecture)"
depends="$(field Depends)"
for lib in libc6 libsndfile1 libx11-6 libasound2; do
  grep -q "\(^\|, \)$lib\( \|,\|$\)" <<< "$depends" || bad "Depends lacks $lib: $depends"
done

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
# The desktop entry starts the packaged program and names the packaged icon.
desktop="$tmp/usr/share/applications/zelo.desktop"
exec_cmd="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
[ -x "$tmp/usr/bin/$exec_cmd" ] || bad "Exec=$exec_cmd is not in /usr/bin"
icon="$(sed -n 's/^Icon=//p' "$desktop")"
[ -f "$tmp/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || bad "Icon=$icon has no 48x48 picture"
# The manual page describes each mode the program lists, and has the version.
man_page="$(zcat "$tmp/usr/share/man/man1/zelo.1.gz")"
modes="$("$build/host/zelo" --help | sed -n 's/^  \([a-z][a-z]*\)\( .*\)\?$/\1/p')"
[ -n "$modes" ] || bad "no modes in zelo --help"
for m in $modes; do
  grep -q "^\.B $m\( \|$\)" <<< "$man_page" || bad "zelo.1 does not describe the mode $m"
done
grep -q "^\.TH ZELO 1 .*\"zelo $version\"" <<< "$man_page" || bad "zelo.1 lacks the version $version"
warnings="$(zcat "$tmp/usr/share/man/man1/zelo.1.gz" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -man -Tutf8 -ww -z 2>&1)"
[ -z "$warnings" ] || bad "zelo.1: $warnings"
# The LV2 description carries the version as LV2 counts (an even minor for a release).
ttl="$tmp/usr/lib/lv2/zelo.lv2/zelo.ttl"
if [ -f "$ttl" ]; then
  IFS=. read -r major minor patch <<< "$version"
  grep -q "lv2:minorVersion $((2 * (100 * major + minor))) ;" "$ttl" || bad "zelo.ttl: $(grep minorVersion "$ttl")"
  grep -q "lv2:microVersion $patch ;" "$ttl" || bad "zelo.ttl: $(grep microVersion "$ttl")"
fi
zcat "$tmp/usr/share/doc/zelo/changelog.gz" | head -1 | grep -q "^zelo ($version) " || bad "changelog.gz is not for $version"

if command -v lintian > /dev/null; then
  report="$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)"
  [ -z "$report" ] || echo "$report" | sed 's/^/   lintian: /'
  grep -q '^E: ' <<< "$report" && bad "lintian reports errors"
fi
echo "-- $(basename "$deb"): $(grep -vc '/$' <<< "$actual") files; formats: vst ${formats[*]}"
exit $fail
