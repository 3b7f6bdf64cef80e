#!/usr/bin/env python3
"""The table of scripts/voice-vs-praat.sh: per recording, Praat's CPPS, HNR,
jitter and shimmer against the medians of quenvis-render's voice.csv, and
per AVQI pair Praat's index and measures against quenvis-render --avqi's.

  voice_vs_praat.py WORKDIR [--write-data DIR]
"""
import csv
import os
import statistics
import sys

# name, voice.csv column, agreement: absolute (dB, AVQI) or relative share
MEASURES = [("cpps", "cpps_db", 0.5, False), ("hnr", "hnr_db", 1.5, False),
            ("jitter", "jitter_pct", 0.15, True), ("shimmer", "shimmer_pct", 0.15, True)]
AVQI_FIELDS = ["avqi", "cpps", "hnr", "shimmer_pct", "shimmer_db", "slope", "tilt"]


def medians(path):
    cols = {m[1]: [] for m in MEASURES}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            for c in cols:
                if row.get(c):
                    cols[c].append(float(row[c]))
    return {c: statistics.median(v) if v else None for c, v in cols.items()}


def within(ours, theirs, limit, relative):
    if ours is None or theirs is None:
        return False
    if relative:
        # Near zero a share means nothing: 0.05 points pass.
        return abs(ours - theirs) <= max(limit * abs(theirs), 0.05)
    return abs(ours - theirs) <= limit


def praat_line(path):
    with open(path) as f:
        text = f.read().strip().splitlines()
    try:
        return [None if v.strip() in ("--undefined--", "") else float(v) for v in text[-1].split(",")]
    except (ValueError, IndexError):
        return None


def main():
    work = sys.argv[1]
    write = sys.argv[sys.argv.index("--write-data") + 1] if "--write-data" in sys.argv else None
    rows, stored = [], []
    with open(os.path.join(work, "list")) as f:
        for line in f:
            kind, name, path = line.rstrip("\n").split("|")
            praat = praat_line(path + ".praat")
            stem = os.path.splitext(os.path.basename(path))[0]
            voice = os.path.join(work, "quenvis", stem, "voice.csv")
            ours = medians(voice) if os.path.exists(voice) else {}
            rows.append((kind, name, praat, ours))
            if kind == "synthetic" and praat:
                stored.append([stem] + praat)
    print("| recording | CPPS Praat | ours | HNR Praat | ours | jitter % Praat | ours | shimmer % Praat | ours |")
    print("|---|---|---|---|---|---|---|---|---|")
    agree = {m[0]: [0, 0] for m in MEASURES}
    for kind, name, praat, ours in rows:
        cells = [f"{name} ({kind})"]
        for i, (m, col, limit, rel) in enumerate(MEASURES):
            p = praat[i] if praat else None
            q = ours.get(col)
            ok = within(q, p, limit, rel)
            if p is not None:
                agree[m][1] += 1
                agree[m][0] += ok
            cells += ["–" if p is None else f"{p:.2f}",
                      ("–" if q is None else f"{q:.2f}") + ("" if ok or p is None else " ✗")]
        print("| " + " | ".join(cells) + " |")
    print()
    for m, limit, rel in [(m[0], m[2], m[3]) for m in MEASURES]:
        n_ok, n = agree[m]
        print(f"{m}: {n_ok} of {n} within {limit * 100:.0f} %" if rel else
              f"{m}: {n_ok} of {n} within {limit} dB")
    print()
    print("| AVQI pair | " + " | ".join(f"{f} Praat | ours" for f in AVQI_FIELDS) + " |")
    print("|---|" + "---|---|" * len(AVQI_FIELDS))
    avqi_rows = []
    with open(os.path.join(work, "avqi.list")) as f:
        for name in f.read().split():
            praat = praat_line(os.path.join(work, name + ".avqi.praat"))
            ours = {}
            with open(os.path.join(work, name + ".avqi.quenvis")) as q:
                for line in q:
                    parts = line.split()
                    if len(parts) >= 2 and not line.startswith("quenvis-render"):
                        ours[parts[0]] = parts[1]
            keys = ["AVQI", "CPPS", "HNR", "shimmer", "shimmer_db", "slope", "tilt"]
            cells = [name]
            for i, k in enumerate(keys):
                p = praat[i] if praat else None
                cells += ["–" if p is None else f"{p:.2f}", ours.get(k, "refused")]
            print("| " + " | ".join(cells) + " |")
            if praat:
                avqi_rows.append([name] + praat)
    if write:
        os.makedirs(write, exist_ok=True)
        with open(os.path.join(write, "sustained.csv"), "w", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(["name", "cpps_db", "hnr_db", "jitter_pct", "shimmer_pct"])
            w.writerows(stored)
        with open(os.path.join(write, "avqi.csv"), "w", newline="") as f:
            w = csv.writer(f, lineterminator="\n")
            w.writerow(["name"] + AVQI_FIELDS)
            w.writerows(avqi_rows)


if __name__ == "__main__":
    main()
