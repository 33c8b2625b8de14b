#!/bin/sh
# A robot that exits at once with status 3, leaving behind a child that keeps its output open:
# a shell that carries the token $1 in its command line and sleeps a second at a time.
sh -c 'while :; do sleep 1; done' "$1" &
exit 3
