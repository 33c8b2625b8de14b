#!/bin/sh
# A robot that writes 12 KiB to its standard error, then its last words, then plays as the robot
# in its arguments.
i=0
while [ $i -lt 120 ]; do
  echo "line $i: $(printf '%0090d' 0)" >&2
  i=$((i + 1))
done
echo "last words" >&2
exec "$@"
