#!/bin/sh
# A robot that complains on its standard error, then plays as the robot in its arguments.
echo "queixa: something went wrong" >&2
exec "$@"
