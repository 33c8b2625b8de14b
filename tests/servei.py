#!/usr/bin/env python3
# The live view's server from outside, over raw sockets: what it refuses (bad addresses, a port in
# use, paths that aim at files, other methods, streams beyond its limit), the tournament's stream,
# and that a viewer that never reads changes nothing in the match it watches. Usage: servei.py
# ARENA TAVIK
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import json
import re

ARENA, TAVIK = sys.argv[1], sys.argv[2]
fallades = []


def Comprova(cert, que):
    if not cert:
        fallades.append(que)
        print("FAIL:", que)


def Arena(dir, *args):
    return subprocess.Popen([ARENA, *args], cwd=dir, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def Port(proces):
    adreca = proces.stdout.readline().strip()
    assert adreca.startswith("http://127.0.0.1:") and adreca.endswith("/"), adreca
    return int(adreca.rsplit(":", 1)[1].rstrip("/"))


def Demana(port, peticio):
    """Sends a raw request; returns the socket, left open, and the status line's code. The status
    line is read a byte at a time: what follows it is left to the caller."""
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(peticio.encode())
    resposta = Fins(s, b"\r\n", 1)
    return s, int(resposta.split(b" ")[1]) if resposta else 0


def Rep(s, marca, mida=65536):
    """What the socket gives until `marca` has come, or it is closed, and in how many reads."""
    dades, trossos = b"", 0
    while marca not in dades:
        tros = s.recv(mida)
        if not tros:
            break
        dades, trossos = dades + tros, trossos + 1
    return dades, trossos


def Fins(s, marca, mida=65536):
    return Rep(s, marca, mida)[0]


def Para(p):
    """Ends an arena as a stop from outside would (SIGTERM); returns its exit status."""
    p.send_signal(signal.SIGTERM)
    p.communicate()
    return p.returncode


def Cos(port, cami):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(f"GET {cami} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
    resposta = b""
    while tros := s.recv(65536):
        resposta += tros
    s.close()
    return int(resposta.split(b" ")[1]), resposta


def Refusos(dir):
    for adreca in ["nonsense", "127.0.0.1:70000", ":80", "12ab"]:
        p = subprocess.run([ARENA, "--serve", adreca, TAVIK, "diana"], cwd=dir,
                           capture_output=True, text=True)
        Comprova(p.returncode == 2 and "--serve" in p.stderr, f"--serve {adreca}: {p.stderr}")
    ocupat = socket.socket()
    ocupat.bind(("127.0.0.1", 0))
    ocupat.listen()
    port = ocupat.getsockname()[1]
    p = subprocess.run([ARENA, "--serve", str(port), "--time", "1", TAVIK, "diana"], cwd=dir,
                       capture_output=True, text=True)
    Comprova(p.returncode == 2 and f"cannot listen on 127.0.0.1:{port}" in p.stderr,
             f"a port in use: {p.returncode} {p.stderr}")
    Comprova(not os.path.exists(os.path.join(dir, "out")), "a refused --serve played")
    ocupat.close()
    p = subprocess.run([ARENA, "--serve-exit", TAVIK, "diana"], cwd=dir, capture_output=True,
                       text=True)
    Comprova(p.returncode == 2, "--serve-exit without --serve")


def Torneig(dir):
    """Under --sprt the tournament's stream carries the LLR after each pair, up to the last, and
    the live view follows the matches as they are played."""
    engegat = time.monotonic()
    p = Arena(dir, "--serve", "0", "--tournament", "3", "--sprt", "0", "20", "-j", "1", "--time",
              "5", "--results", "t.jsonl", TAVIK, "cacador")
    port = Port(p)
    s, codi = Demana(port, "GET /events/tournament HTTP/1.1\r\nHost: x\r\n\r\n")
    Comprova(codi == 200, f"the tournament's stream: {codi}")
    dades = Fins(s, b'"finished":true')
    vist = time.monotonic()
    s.close()
    # The live view went from match to match: it shows the last one played.
    s, codi = Demana(port, "GET /events/live HTTP/1.1\r\nHost: x\r\n\r\n")
    llavors = set(re.findall(rb'"seed":(\d+)', Fins(s, b"event: end")))
    s.close()
    Comprova(llavors == {b"3"}, f"the live view after the tournament shows seeds {llavors}")
    Para(p)
    darrer = dades.rsplit(b"data: ", 1)[-1].split(b"\n", 1)[0]
    try:
        llr = json.loads(darrer)["sprt"]["llr"]
    except (ValueError, KeyError) as e:
        Comprova(False, f"the tournament's last state: {e}: {darrer[:200]}")
        return
    Comprova(len(llr) >= 1 and llr[-1][0] == 3, f"the LLR plotted: {llr}")
    # Each state's rate is the games so far over the time so far: games / rate is the time the
    # tournament had run, never more than the arena had; and the time left is what is left at
    # that rate.
    estats = [json.loads(d) for d in re.findall(rb"data: (\{.*)", dades)]
    rellotge = [e["done"] / e["rate"] for e in estats if e["done"] > 0 and e["rate"] > 0]
    Comprova(rellotge and all(0 < t <= vist - engegat for t in rellotge),
             f"the tournament ran {rellotge} s by its rates, the arena {vist - engegat} s")
    Comprova(all(abs(e["left"] * e["rate"] - (e["total"] - e["done"])) < 1e-6
                 for e in estats if e["rate"] > 0), "a time left that is not the rest at the rate")
    # After a single pair the test has something to say already: it is too early to decide.
    p = Arena(dir, "--serve", "0", "--tournament", "1", "--sprt", "0", "20", "-j", "1", "--time",
              "1", "--results", "u.jsonl", TAVIK, "cacador")
    s, codi = Demana(Port(p), "GET /events/tournament HTTP/1.1\r\nHost: x\r\n\r\n")
    darrer = json.loads(Fins(s, b'"finished":true').rsplit(b"data: ", 1)[-1].split(b"\n", 1)[0])
    s.close()
    Para(p)
    Comprova(darrer["sprt"]["text"].endswith(": continue (too few pairs to decide)"),
             f"the test after one pair: {darrer['sprt']}")
    # A melee has no pairs of games: its page gives no Elo rather than one made from nothing.
    # Of a kept game the page serves the replay, picture and transcript, not what a robot wrote
    # on its standard error.
    robot = os.path.join(dir, "robot.sh")
    with open(robot, "w") as f:
        f.write('echo hola >&2\nexec "$1"\n')
    p = Arena(dir, "--serve", "0", "--tournament", "1", "-j", "1", "--time", "2", "--keep", "all",
              "--results", "m.jsonl", f"/bin/sh {robot} {TAVIK}", "cacador", "diana")
    port = Port(p)
    s, codi = Demana(port, "GET /events/tournament HTTP/1.1\r\nHost: x\r\n\r\n")
    darrer = json.loads(Fins(s, b'"finished":true').rsplit(b"data: ", 1)[-1].split(b"\n", 1)[0])
    s.close()
    Comprova(codi == 200 and darrer.get("elo") == "", f"a melee's state: {darrer}")
    with open(os.path.join(dir, "m.jsonl")) as f:
        fitxers = [os.path.basename(c) for c in json.loads(f.readline())["files"]]
    servits = {}
    for n in fitxers:
        codi, resposta = Cos(port, "/kept/" + n.replace("#", "%23"))
        tipus = re.search(rb"\r\nContent-Type: ([^\r]*)", resposta)
        servits[os.path.splitext(n)[1]] = (codi, tipus.group(1).decode() if tipus else "")
    Para(p)
    Comprova(darrer.get("kept") == [n for n in fitxers if n.endswith(".html")] and
             servits == {".html": (200, "text/html; charset=utf-8"), ".svg": (200, "image/svg+xml"),
                         ".txt": (200, "text/plain; charset=utf-8"), ".err": (404, "")},
             f"kept {darrer.get('kept')}: {servits}")


def EnDirecte(dir):
    """A viewer of a match played in real time gets the live page, and the match as it is played,
    not in a few lumps."""
    p = Arena(dir, "--serve", "0", "--realtime", "--time", "3", TAVIK, "diana")
    port = Port(p)
    codi, pagina = Cos(port, "/")
    Comprova(codi == 200 and b"<title>Live match</title>" in pagina, f"the live page: {codi}")
    s, codi = Demana(port, "GET /events/live HTTP/1.1\r\nHost: x\r\n\r\n")
    dades, trossos = Rep(s, b"event: end")
    s.close()
    Para(p)
    # A part every 40 ms of a 3 s match: about 75, each sent as it is made. A reset tells a
    # viewer that another match took the view: this one saw one match.
    Comprova(codi == 200 and trossos >= 10, f"a real-time match reached its viewer in {trossos}")
    Comprova(b"event: reset" not in dades, "a viewer of one match was sent a reset")
    Comprova(re.search(rb"(^|\r\n)Cache-Control: no-cache\r\n", dades),
             "a stream that may be kept in a cache")
    # A viewer that has every part waits for the next: it is not sent empty comments meanwhile
    # (one every 5 s at most, to find out whether it is still there).
    Comprova(dades.count(b": \n\n") <= 1, f"{dades.count(b': ')} comments in a 3 s match")


def Serie(dir):
    """The live view of a series, alone or as a tournament's unit, shows every game whole: the
    parts of each hold each of its frames once, from its first, with what the radar saw in it."""
    for args in (["--games", "2"],
                 ["--tournament", "1", "--unpaired", "--games", "2", "-j", "1", "--results",
                  "serie.jsonl"]):
        p = Arena(dir, "--serve", "0", *args, "--time", "1", TAVIK, "diana")
        s, codi = Demana(Port(p), "GET /events/live HTTP/1.1\r\nHost: x\r\n\r\n")
        dades = Fins(s, b"event: end")
        s.close()
        Para(p)
        posicions, quadres, radar = {}, {}, {}
        for d in re.findall(rb"data: (\{.*)", dades):
            part = json.loads(d)
            if "game" not in part:
                continue  # the end
            joc = part["game"]
            posicions[joc] = posicions.get(joc, 0) + len(part["tracks"][0]["x"])
            quadres[joc] = part["frames"]
            radar[joc] = radar.get(joc, "") + part["radar"][0]["type"]
        Comprova(codi == 200 and len(quadres) == 2 and posicions == quadres,
                 f"a series seen live ({args[0]}): positions {posicions} of frames {quadres}")
        # Its games are one view: the second does not take the view from the first.
        Comprova(b"event: reset" not in dades, f"a series seen live ({args[0]}) was reset")
        # A frame is sent once its radar is known, which is a tick after the frame: the robot
        # that lives through the game saw something in each but the last, when it had ended.
        Comprova(all("-" not in tipus[:-1] for tipus in radar.values()),
                 f"frames sent before their radar ({args[0]}): {radar}")


def Darrera(dir):
    """A viewer still behind when the arena stops (--serve-exit) gets the rest of the match and
    its end, in a stream closed as HTTP closes one: the server waits for it before it stops."""
    p = Arena(dir, "--serve", "0", "--serve-exit", "--time", "600", TAVIK, "rodamon", "rodamon",
              "rodamon")
    s = socket.socket()
    # A small receive buffer: the match's megabyte waits in the server's writes.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", Port(p)))
    s.sendall(b"GET /events/live HTTP/1.1\r\nHost: x\r\n\r\n")
    linia = p.stdout.readline()
    while linia and not linia.startswith("Picture:"):
        linia = p.stdout.readline()
    dades = Fins(s, b"\r\n0\r\n\r\n")
    s.close()
    p.communicate()
    Comprova(p.returncode == 0 and dades.startswith(b"HTTP/1.1 200") and
             dades.endswith(b"event: end\ndata: {}\n\n\r\n0\r\n\r\n") and len(dades) > 1 << 20,
             f"a viewer behind at the end: exit {p.returncode}, {len(dades)} bytes ending "
             f"{dades[-40:]}")


# What a viewer that reads saw: the frames of each part, up to the end.
def Llegeix(s, quadres):
    dades = Fins(s, b"event: end")
    quadres.extend(int(m) for m in re.findall(rb'"frames":(\d+)', dades))


def main():
    with tempfile.TemporaryDirectory() as dir:
        Refusos(dir)
        Torneig(dir)
        EnDirecte(dir)
        Serie(dir)
        Darrera(dir)
        args = ["--seed", "9", "--time", "120", TAVIK, "cacador", "rodamon"]
        sol = Arena(dir, *args, "--transcript", "sol.txt")
        sol.communicate()
        vist = Arena(dir, "--serve", "0", *args, "--transcript", "vist.txt")
        port = Port(vist)
        for cami in ["/../../etc/passwd", "/etc/passwd", "//etc/passwd", "/kept/../../etc/passwd",
                     "/kept/%2e%2e%2f%2e%2e%2fetc%2fpasswd", "/kept/" + os.path.join(dir, "sol.txt"),
                     "/kept/sol.txt", "/sol.txt", "/out/match-9.html"]:
            codi, resposta = Cos(port, cami)
            Comprova(codi in (400, 404) and b"root:" not in resposta, f"GET {cami}: {codi}")
        for metode in ["POST", "PUT", "DELETE"]:
            _, codi = Demana(port, f"{metode} / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n")
            Comprova(codi == 405, f"{metode} /: {codi}")
        # Eight streams, all but one of which never read past their status line; the ninth is
        # turned away.
        fluxos = [Demana(port, "GET /events/live HTTP/1.1\r\nHost: x\r\n\r\n") for _ in range(8)]
        Comprova(all(c == 200 for _, c in fluxos), f"streams: {[c for _, c in fluxos]}")
        _, codi = Demana(port, "GET /events/live HTTP/1.1\r\nHost: x\r\n\r\n")
        Comprova(codi == 503, f"a ninth stream: {codi}")
        quadres = []
        lector = threading.Thread(target=Llegeix, args=(fluxos[0][0], quadres))
        lector.start()
        # The match ends whatever its viewers do; then the server waits for a signal.
        linia = vist.stdout.readline()
        while linia and not linia.startswith("Picture:"):
            linia = vist.stdout.readline()
        Comprova(linia.startswith("Picture:"), "the match with viewers did not end")
        lector.join()
        # The viewers were there while it was played: the first part it read was not the last.
        Comprova(len(quadres) > 1 and quadres[0] < quadres[-1], f"parts read: {quadres[:3]}")
        codi = Para(vist)
        Comprova(codi == 0, f"SIGTERM after the match: exit {codi}")
        for s, _ in fluxos:
            s.close()
        with open(os.path.join(dir, "sol.txt"), "rb") as a, open(os.path.join(dir, "vist.txt"),
                                                                   "rb") as b:
            Comprova(a.read() == b.read(), "the transcript with viewers differs")
    return 1 if fallades else 0


if __name__ == "__main__":
    sys.exit(main())
