#!/bin/sh
# A robot that never reads its input.
exec sleep 1000
