#!/usr/bin/env python3
"""Tallies why F1 or F2 is blank where the speech reference has formants.

  blank_causes.py RECORDINGS.csv REFERENCE.csv ROWSDIR
      ROWSDIR/<id>.csv: quenvis_blank_causes's rows for recording <id>.
Prints, per set and overall, the share of reference formant frames with F1
and F2 given, and of each cause of a blank (the harmonics' cause; "filled"
counts the frames the waveform fit filled in), and how many of the given
F2 are F3 (within 7 % of the reference F3 and closer to it than to F2).
"""
import csv
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from speech_reference import nearest_row, read_reference  # noqa: E402

CAUSES = ["none", "aperiodic", "quiet", "clipped", "few_harmonics", "no_model", "merged", "broad",
          "unassigned", "corrected"]


def read_rows(path):
    rows = []
    with open(path) as f:
        for r in csv.DictReader(f):
            rows.append((float(r["time_s"]), float(r["f0_hz"]), float(r["f1_hz"]), float(r["f2_hz"]),
                         r["blank"], r["fallback"] == "1"))
    return rows


def main(recordings_path, reference_path, rows_dir):
    ref = read_reference(reference_path)
    with open(recordings_path) as f:
        recordings = list(csv.DictReader(f))
    tallies = {}
    for r in recordings:
        path = f"{rows_dir}/{r['id']}.csv"
        if not os.path.exists(path):
            continue
        ours = read_rows(path)
        times = [x[0] for x in ours]
        for key in (r["set"], f"half {r['half']}", "all"):
            tallies.setdefault(key, {"frames": 0, "given": 0, "filled": 0, "f3_as_f2": 0,
                                     **{c: 0 for c in CAUSES}, **{"was_" + c: 0 for c in CAUSES}})
        for time, f0, formants in ref.get(r["id"], []):
            if not formants:
                continue
            q = nearest_row(ours, times, time)
            given = bool(q and q[2] > 0 and q[3] > 0)
            cause = q[4] if q else "aperiodic"
            f3_as_f2 = bool(q and q[3] > 0 and abs(q[3] - formants[2]) <= 0.07 * formants[2]
                            and abs(q[3] - formants[2]) < abs(q[3] - formants[1]))
            for key in (r["set"], f"half {r['half']}", "all"):
                t = tallies[key]
                t["frames"] += 1
                t["given"] += given
                t["f3_as_f2"] += f3_as_f2
                # "none" with a blank: the harmonics gave F1 and F2, the
                # reference's frame fell between our rows or they were cleared.
                t["was_" + cause] += cause != "none" or not given
                if given and cause != "none":
                    t["filled"] += 1
                elif not given:
                    t[cause] += 1
    for title, prefix in (("the harmonics alone: why F1 or F2 is blank", "was_"),
                          ("after the waveform fit: still blank", "")):
        print(title)
        print(f"{'set':28} {'frames':>7} {'given':>6} {'filled':>6} "
              + " ".join(f"{c[:10]:>10}" for c in CAUSES) + f" {'F3asF2':>6}")
        for key, t in tallies.items():
            n = t["frames"] or 1
            pct = lambda v: f"{100.0 * v / n:.1f}"
            print(f"{key[:28]:28} {t['frames']:7d} {pct(t['given']):>6} {pct(t['filled']):>6} "
                  + " ".join(f"{pct(t[prefix + c]):>10}" for c in CAUSES) + f" {pct(t['f3_as_f2']):>6}")
        print()
    print("% of the reference's formant frames: given (F1 and F2 in the end), filled (given by the waveform")
    print("fit where the harmonics gave none), and each cause; \"none\" there: the harmonics gave F1 and F2")
    print("but the frame has no row of ours within 5 ms.")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(*sys.argv[1:])
