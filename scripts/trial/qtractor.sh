#!/usr/bin/env bash
# Qtractor on a virtual X server, as a user would run it, for trying the
# plug-ins by hand or with xdotool: a JACK server of its own (dummy backend,
# private name) and a stand-in ALSA sequencer where the machine has none.
# Usage: scripts/trial/qtractor.sh [DISPLAY_NUMBER]   (then DISPLAY=:N xdotool ...)
# Stops everything it started on Ctrl+C or when Qtractor exits.
set -euo pipefail
n="${1:-77}"
dir="$(mktemp -d)"
here="$(cd "$(dirname "$0")" && pwd)"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done; rm -rf "$dir"; }
trap cleanup EXIT
Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp > "$dir/xvfb.log" 2>&1 & pids+=($!)
export JACK_DEFAULT_SERVER="zelo-trial-$n" JACK_NO_AUDIO_RESERVATION=1
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 > "$dir/jack.log" 2>&1 & pids+=($!)
sleep 2
preload=""
if [ ! -e /dev/snd/seq ]; then
  gcc -shared -fPIC -O1 -o "$dir/libalsa_seq_stub.so" "$here/alsa_seq_stub.c" -lasound
  preload="$dir/libalsa_seq_stub.so"
fi
DISPLAY=":$n" LD_PRELOAD="$preload" qtractor
