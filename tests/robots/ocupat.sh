#!/bin/sh
# A robot that never stops working: it reads nothing and never waits.
while :; do :; done
