#!/bin/sh
# A robot that appends a line to the file $1 each time it starts, then plays as the robot in the
# remaining arguments: how many games it was started for.
f=$1
shift
echo started >> "$f"
exec "$@"
