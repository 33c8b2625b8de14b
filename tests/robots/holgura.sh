#!/bin/sh
# A robot that says on its standard error the timer slack it runs with, then plays as the robot
# in its arguments.
cat /proc/self/timerslack_ns >&2
exec "$@"
