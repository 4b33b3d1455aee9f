#!/usr/bin/env bash
# Every test: set up, then
#  1. build everything with AddressSanitizer + UndefinedBehaviorSanitizer and run all tests;
#  2. build the threaded tests with ThreadSanitizer and run them;
#  3. cross-build the tree for 32-bit Windows (mingw-w64) and run the Windows tests under wine
#     (scripts/wine-tests.sh: in a 64-bit build where the machine runs no 32-bit programs);
#  4. pack the release packages from those trees and check them (the installer
#     runs under wine32 where it starts);
#  5. run each fuzz harness for a short, bounded time (clang + libFuzzer).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
JOBS="$(nproc)"
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"

echo "== asan: build and test"
cmake --preset asan > /dev/null
cmake --build build/asan -j"$JOBS"
(cd build/asan && ctest --output-on-failure -j"$JOBS" --timeout 300)

echo "== tsan: threaded tests"
# The tests that drive objects from two threads at once (engine option changes
# during passes, painting from two threads, host parameters during processing,
# a sound driver stopped while its device thread delivers blocks, the standalone
# host's menu actions during blocks, the editor opened and closed while audio
# and host parameter threads run).
cmake --preset tsan > /dev/null
cmake --build build/tsan -j"$JOBS" --target dsp_tests gui_thread_tests zelo_plugin_validation rts_tests host_thread_tests rts_jack_tests zelo_editor_tests zelo_clap_tests zelo_editor_thread_tests zelo_lv2_tests zelo_lv2_ui_tests 2>/dev/null ||
  cmake --build build/tsan -j"$JOBS"
(cd build/tsan && ctest --output-on-failure -j"$JOBS" --timeout 300 -R "Thread|ParametersFromASecondThread")

echo "== mingw-w64: the Windows build, its tests under wine"
scripts/wine-tests.sh

echo "== packages: the Debian package from the asan tree, the Windows zip and installer from the mingw tree"
tests/packaging/deb_test.sh build/asan
tests/packaging/windows_test.sh build/mingw

echo "== fuzz: ${FUZZ_SECONDS}s per harness"
if command -v clang++ > /dev/null; then
  cmake --preset fuzz > /dev/null
  cmake --build build/fuzz -j"$JOBS" --target fuzzers
  for f in build/fuzz/tests/fuzz/*_fuzz; do
    name="$(basename "$f")"
    corpus="$(mktemp -d)"
    seeds="tests/fuzz/corpus/${name%_fuzz}"
    [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
    echo "-- $name"
    "$f" -max_total_time="$FUZZ_SECONDS" -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
    rm -rf "$corpus"
  done
fi
echo "== all tests passed"
