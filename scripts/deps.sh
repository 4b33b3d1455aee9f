#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the cross-build need,
# skipping what is already installed.
set -euo pipefail
PKGS=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  libx11-dev libxext-dev libxtst-dev libfreetype-dev libfontconfig-dev
  libasound2-dev libjack-jackd2-dev libsndfile1-dev libpng-dev
  # LV2: the headers the plug-in builds with, lilv for hosting plug-ins, and
  # the tools that validate, list and run the bundle in the tests.
  lv2-dev liblilv-dev lilv-utils sordi
  xvfb xauth fonts-wine fonts-dejavu-core jackd2
  dpf-plugins-vst
  g++-mingw-w64-i686
  wine wine32:i386
  # Where the kernel runs no 32-bit programs, the Windows tests run in a 64-bit build.
  g++-mingw-w64-x86-64-posix wine64
  # The release packages and their tests: CPack's DEB generator needs file and
  # dpkg-shlibdeps; lintian checks the package; NSIS makes the Windows
  # installer; zip, unzip and 7z make and read the archives; groff checks the manual page.
  dpkg-dev file lintian groff-base nsis zip unzip p7zip-full
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "installing: ${missing[*]}"
  # wine32 runs the 32-bit Windows tests; it comes from the i386 architecture.
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
