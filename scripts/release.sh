#!/usr/bin/env bash
# The release: builds the Linux program and plug-ins (Release, no tests) and
# the 32-bit Windows ones, then packs them into dist/:
#   zelo_VERSION_amd64.deb            (CPack; dependencies from dpkg-shlibdeps)
#   zelo-VERSION-win32.zip            (program, plug-ins, README.txt, LICENSE.txt)
#   zelo-VERSION-win32-setup.exe      (NSIS installer with an uninstaller)
#   SHA256SUMS
# and prints lintian's report of the Debian package (it fails on errors).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
JOBS="$(nproc)"
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Trees of their own, without tests or benchmarks: CPack builds the whole tree
# before it packs, and the release needs only the product.
cmake -S . -B build/dist-linux -DCMAKE_BUILD_TYPE=Release -DZELO_TESTS=OFF -DZELO_BENCH=OFF "${launcher[@]}" > /dev/null
cmake --build build/dist-linux -j"$JOBS"
cmake -S . -B build/dist-win32 --toolchain cmake/toolchain-mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DZELO_TESTS=OFF -DZELO_BENCH=OFF "${launcher[@]}" > /dev/null
cmake --build build/dist-win32 -j"$JOBS"

rm -rf dist
mkdir -p dist
cpack --config build/dist-linux/CPackConfig.cmake -B build/dist-linux/deb > build/dist-linux/cpack.log ||
  { cat build/dist-linux/cpack.log >&2; exit 1; }
cp build/dist-linux/deb/zelo_*_amd64.deb dist/
packaging/windows/make-packages.sh build/dist-win32 dist > /dev/null
(cd dist && sha256sum -- * > SHA256SUMS)

echo "== lintian"
lintian --fail-on error dist/zelo_*_amd64.deb 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error dist/zelo_*_amd64.deb > /dev/null 2>&1
echo "== dist/"
(cd dist && ls -l && cat SHA256SUMS)
