#!/bin/sh
# A robot that writes a megabyte of garbage, then sleeps.
head -c 1048576 /dev/urandom
exec sleep 1000
