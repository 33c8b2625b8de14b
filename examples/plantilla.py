#!/usr/bin/env python3
"""A robot for the practice arena, as small as a useful one can be: a starting point.

The arena writes one message per line on our standard input and reads one command per line
from our standard output. Our input is non-blocking, so we wait for it with select() and read
whatever is there; a message may arrive in pieces, so we keep the unfinished end of the input
until its newline comes. We never ask for wake-up signals (RobotOption 0): select() wakes us.

Run it:  ./build/arena "python3 examples/plantilla.py" diana
"""
import os
import select


def send(command):
    """One command, one line, one write: the arena reads it as soon as it is out."""
    os.write(1, (command + "\n").encode())


def handle(words):
    """React to one message. words[0] is the message, the rest its fields."""
    message = words[0]
    if message == "Initialize" and words[1] != "0":
        send("Name Plantilla")
        send("Colour 0x2ba84a 0x208040")   # our colour, and a second choice if it is taken
    elif message == "GameStarts":
        send("Rotate 6 1.5")               # spin cannon (2) and radar (4) together
        send("Accelerate 0.3")
    elif message == "Radar":
        distance, kind, angle = float(words[1].replace(",", ".")), int(words[2]), words[3]
        if kind == 0 and distance < 20:    # a robot in front of the cannon: fire
            send("Shoot 1")
    elif message == "Collision":
        send("RotateAmount 1 0.785398 1.57")  # turn the body a quarter turn away
    elif message == "Dead":
        send("Print that hurt")            # goes to the transcript and the replay's log


def main():
    pending = b""
    while True:
        select.select([0], [], [])
        try:
            chunk = os.read(0, 65536)
        except BlockingIOError:            # someone else read it first: wait again
            continue
        if not chunk:                      # the arena has gone
            return
        pending += chunk
        *lines, pending = pending.split(b"\n")
        for line in lines:
            words = line.decode(errors="replace").split()
            if not words:
                continue
            if words[0] == "ExitRobot":
                return
            handle(words)


main()
