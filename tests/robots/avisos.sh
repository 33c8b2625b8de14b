#!/bin/sh
# A robot that asks for an option the arena does not have and sends a command it does not
# know, then sleeps.
echo "RobotOption 7 1"
echo "Fly 3"
exec sleep 1000
