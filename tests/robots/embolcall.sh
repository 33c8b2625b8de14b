#!/bin/sh
# A robot behind a shell that does not exec it, and that leaves processes behind: one in its
# group, one that escaped into a session of its own. Their pids are appended to the file $1; the
# robot is the command in the remaining arguments.
f=$1
shift
sleep 25 &
echo $! >> "$f"
(setsid sleep 26 & echo $! >> "$f")
"$@"
