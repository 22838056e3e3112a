#!/bin/sh
# Starts quillon, asks it to end as a desktop session does at logout (SIGTERM) and expects
# exit status 0. Usage: program_ends_cleanly.sh PATH-TO-QUILLON
program="$1"
"$program" &
pid=$!
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"
  echo "quillon ended by itself with status $? before it was asked to"
  exit 1
fi
kill -TERM "$pid"
wait "$pid"
status=$?
if [ "$status" -ne 0 ]; then
  echo "quillon ended with status $status, expected 0"
  exit 1
fi
