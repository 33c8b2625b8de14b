#!/usr/bin/env python3
# Plays fixed matches, a series and a tournament with the built arena and compares what they
# leave (summaries, transcripts, pictures, replay data, results records) with the files in
# tests/fixats/, so that a change to the arena's insides shows every byte it changed outside.
#
# Usage: fixats.py BUILD_DIR [--update]   (--update rewrites the expected files)
import json
import os
import re
import subprocess
import sys
import tempfile

AQUI = os.path.dirname(os.path.abspath(__file__))
ESPERATS = os.path.join(AQUI, "fixats")
ROBOTS = os.path.join(AQUI, "robots")
EXEMPLES = os.path.join(os.path.dirname(AQUI), "examples", "partides")

# Each case: a name and the arena's arguments; its files go to NAME.* in the work folder.
PARTIDES = [
    ("diana", ["--seed", "56", "--time", "20", "tavik", "diana"]),
    ("duel", ["--seed", "11", "--time", "30", "tavik", "cacador"]),
    ("melee", ["--seed", "7", "--time", "15", "tavik", "cacador", "rodamon", "diana"]),
    ("caigudes", ["--seed", "3", "--time", "5", "--answer-time", "0.3", "tavik", "cacador",
                  ROBOTS + "/avisos.sh", ROBOTS + "/peta.sh", ROBOTS + "/surt.sh",
                  ROBOTS + "/ocupat.sh"]),
    ("queixa", ["--seed", "4", "--time", "5", "--name", "Queixos",
                ROBOTS + "/queixa.sh tavik", "rodamon"]),
    ("serie", ["--seed", "2", "--time", "10", "--games", "3", "tavik", "cacador"]),
] + [("fitxer-" + f[:-5], ["--match", os.path.join(EXEMPLES, f), "--time", "10"])
     for f in sorted(os.listdir(EXEMPLES)) if f.endswith(".toml")]

TORNEIGS = [
    ("torneig", ["--seeds", "1-3", "--time", "5", "-j", "2", "--keep", "losses",
                 "tavik", "cacador"]),
    ("sprt", ["--seeds", "1-4", "--time", "5", "-j", "1", "--unpaired", "--sprt", "0", "20",
              "tavik", "rodamon"]),
    ("torneig-caigudes", ["--seeds", "5-6", "--time", "3", "-j", "2",
                          "cacador", ROBOTS + "/peta.sh"]),
]


def Neteja(text, build, treball):
    """Paths of this run's folders and process ids, the only things that vary, made fixed."""
    text = re.sub(r"\bprocess \d+", "process PID", text)
    text = text.replace(treball, "WORK").replace(build, "BUILD")
    text = text.replace(ROBOTS, "ROBOTS").replace(EXEMPLES, "EXAMPLES")
    return text


def DadesPagina(cami):
    html = open(cami, encoding="utf-8").read()
    m = re.search(r'<script id="dades" type="application/json">\s*(.*?)\s*</script>', html, re.S)
    dades = json.loads(m.group(1))
    return json.dumps(dades, indent=1, sort_keys=True, ensure_ascii=False) + "\n"


def Registres(cami):
    registres = [json.loads(l) for l in open(cami, encoding="utf-8")]
    for r in registres:
        for robot in r["robots"]:
            robot["cpu"] = 0
    registres.sort(key=lambda r: (r["seed"], r["swapped"], r["game"]))
    return "".join(json.dumps(r, sort_keys=True) + "\n" for r in registres)


def Juga(arena, nom, args, treball):
    """Runs one case; returns {file name: text} of what it left."""
    fets = {}
    base = os.path.join(treball, nom)
    torneig = any(a in ("--seeds", "--tournament") for a in args)
    extra = ["--results", base + ".jsonl"] if torneig else ["--transcript", base + ".txt"]
    p = subprocess.run([arena] + args + extra, cwd=treball, capture_output=True, text=True,
                       stdin=subprocess.DEVNULL, timeout=600)
    fets[nom + ".sortida"] = "exit %d\n%s" % (p.returncode, p.stdout)
    if torneig:
        fets[nom + ".jsonl"] = Registres(base + ".jsonl")
        guardats = base
        if os.path.isdir(guardats):
            for f in sorted(os.listdir(guardats)):
                cami = os.path.join(guardats, f)
                clau = nom + ".guardat." + f
                fets[clau + ".dades" if f.endswith(".html") else clau] = (
                    DadesPagina(cami) if f.endswith(".html") else open(cami).read())
        return fets
    for ext in (".txt", ".svg"):
        if os.path.exists(base + ext):
            fets[nom + ext] = open(base + ext, encoding="utf-8").read()
    if os.path.exists(base + ".html"):
        fets[nom + ".dades"] = DadesPagina(base + ".html")
    for f in sorted(os.listdir(treball)):
        if f.startswith(nom + ".") and f.endswith(".err"):
            fets[f] = open(os.path.join(treball, f)).read()
    return fets


def main():
    build = os.path.abspath(sys.argv[1])
    actualitza = "--update" in sys.argv[2:]
    arena = os.path.join(build, "arena")
    fallades = 0
    with tempfile.TemporaryDirectory() as treball:
        treball = os.path.realpath(treball)
        tots = {}
        for nom, args in PARTIDES + TORNEIGS:
            for clau, text in Juga(arena, nom, args, treball).items():
                tots[clau] = Neteja(text, build, treball)
    if actualitza:
        os.makedirs(ESPERATS, exist_ok=True)
        for f in os.listdir(ESPERATS):
            os.remove(os.path.join(ESPERATS, f))
        for clau, text in tots.items():
            with open(os.path.join(ESPERATS, clau), "w", encoding="utf-8") as f:
                f.write(text)
        print("%d files written to %s" % (len(tots), ESPERATS))
        return 0
    esperats = set(os.listdir(ESPERATS))
    for clau in sorted(esperats | set(tots)):
        if clau not in tots:
            print("FAILED: %s was expected and not made" % clau)
            fallades += 1
        elif clau not in esperats:
            print("FAILED: %s was made and is not expected" % clau)
            fallades += 1
        else:
            esperat = open(os.path.join(ESPERATS, clau), encoding="utf-8").read()
            if esperat != tots[clau]:
                linies_e, linies_f = esperat.splitlines(), tots[clau].splitlines()
                primera = next((i for i, (a, b) in enumerate(zip(linies_e, linies_f)) if a != b),
                               min(len(linies_e), len(linies_f)))
                print("FAILED: %s differs from line %d:" % (clau, primera + 1))
                print("  expected: %s" % (linies_e[primera:primera + 1] or ["(end)"])[0][:300])
                print("  made:     %s" % (linies_f[primera:primera + 1] or ["(end)"])[0][:300])
                fallades += 1
    print("%d files compared, %d differ" % (len(tots), fallades))
    return 1 if fallades else 0


if __name__ == "__main__":
    sys.exit(main())
