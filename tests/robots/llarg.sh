#!/bin/sh
# A robot that writes 120 lines to its standard error, of 100 bytes each or as many as -w says,
# then its last words, then plays as the robot in its arguments.
amplada=90
if [ "$1" = "-w" ]; then
  amplada=$(($2 - 10))
  shift 2
fi
i=0
while [ $i -lt 120 ]; do
  echo "line $i: $(printf "%0${amplada}d" 0)" >&2
  i=$((i + 1))
done
echo "last words" >&2
exec "$@"
