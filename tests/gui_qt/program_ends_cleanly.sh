#!/bin/sh
# Starts quillon and asks it to end as a desktop session does at logout (SIGTERM), as a
# closed terminal does (SIGHUP) and as Ctrl-C does (SIGINT); expects exit status 0 each time.
# Usage: program_ends_cleanly.sh PATH-TO-QUILLON
program="$1"
for signal in TERM HUP INT; do
  "$program" &
  pid=$!
  sleep 2
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    echo "quillon ended by itself with status $? before it was asked to"
    exit 1
  fi
  kill -"$signal" "$pid"
  wait "$pid"
  status=$?
  if [ "$status" -ne 0 ]; then
    echo "quillon ended with status $status after SIG$signal, expected 0"
    exit 1
  fi
done
