#!/bin/sh
# A robot that crashes at once.
kill -SEGV $$
