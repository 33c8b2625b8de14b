#!/bin/sh
# A robot behind a shell that does not exec it, and that leaves processes behind: one in its
# group, one in its group that cleared its environment, one that escaped into a session of its
# own. Their pids are appended to the file $1; the robot is the command in the remaining
# arguments. They would sleep far beyond any test's time: a match that returns at all has ended
# them.
f=$1
shift
sleep 1000 &
echo $! >> "$f"
env -i sleep 1002 &
echo $! >> "$f"
(setsid sleep 1001 & echo $! >> "$f")
"$@"
