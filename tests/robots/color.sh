#!/bin/sh
# A robot that first asks for the colour its first argument gives, then plays as the robot in
# the rest of its arguments.
echo "Colour $1"
shift
exec "$@"
