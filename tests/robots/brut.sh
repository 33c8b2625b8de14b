#!/bin/sh
# A robot that first writes as many lines as its first argument says that are no command, and a
# Print line after them, then plays as the robot in the rest of its arguments.
n=$1
shift
while [ "$n" -gt 0 ]; do
  echo "Nonsense"
  n=$((n - 1))
done
echo "Print after the nonsense"
exec "$@"
