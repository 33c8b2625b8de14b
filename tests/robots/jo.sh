#!/bin/sh
# A robot that says on its standard error its process id as it sees it, then plays as the robot
# in its arguments.
echo $$ >&2
exec "$@"
