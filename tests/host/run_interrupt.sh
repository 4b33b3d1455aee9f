#!/bin/sh
# `zelo run` interrupted (Ctrl+C, here SIGINT; wine turns it into the console's
# Ctrl+C event): the run stops at once, shuts the driver down and prints its
# summary with status 0.
#   run_interrupt.sh OUTPUT_FILE DRIVER PROGRAM... (PROGRAM may begin with an emulator)
out="$1" driver="$2"
shift 2
set -m # a background job with job control keeps SIGINT (otherwise ignored)
# Emptied here: the job's own redirection may come after the first look below,
# which would then find the heading of an earlier run.
: > "$out"
"$@" run --driver "$driver" --seconds 60 > "$out" 2>&1 &
pid=$!
# The interrupt comes after the run has started (its heading is out).
tries=0
until grep -q "instance(s)" "$out" 2> /dev/null; do
  tries=$((tries + 1))
  if [ $tries -gt 300 ] || ! kill -0 $pid 2> /dev/null; then
    cat "$out"
    kill $pid 2> /dev/null
    exit 1
  fi
  sleep 0.1
done
sleep 1
kill -INT $pid
wait $pid
status=$?
cat "$out"
echo "status $status"
