#!/usr/bin/env python3
"""Agreement references for recorded speech, and quenvis-render's tracks
measured against them. Standard library only.

  speech_reference.py build LIST RECORDINGS.csv REFERENCE.csv
      LIST: one recording a line,
      "id|half|set|speaker|path|sha256_16|praat.csv|rapt.txt|swipe.txt|esps.txt".
      Writes the recordings (with each speaker's median F0: "man" below
      175 Hz, whose formant ceiling is 5 000 Hz, else "high", 5 500 Hz) and
      the reference frames: id,time_s,f0_hz (empty: the trackers disagree;
      0: all three hear no voice),f1_hz,f2_hz,f3_hz (empty: no agreement).
  speech_reference.py compare RECORDINGS.csv REFERENCE.csv OUTDIR [--limits FILE [--suggest]]
      RECORDINGS.csv: id,half,set,speaker,voice,path,...; OUTDIR/<id>/formants.csv
      is quenvis-render's output for recording <id>. Prints the table per set
      and speaker; with --limits, also checks each half's overall figures and
      exits 1 when one is worse than its limit; --suggest then prints today's
      figures as new limit lines.

Frame centres (each measured on a glide and on an abrupt vowel change; all in
the recording's own seconds):
  Praat     its own frame times (the centre of each analysis window); these
            10 ms frames are the reference's grid.
  SWIPE     frame i at i x shift (SPTK's pitch -a 1).
  RAPT      frame i at i x shift + 7 ms (SPTK's pitch -a 0 lags by 6.5-7 ms
            at 8-44.1 kHz, whatever the shift).
  ESPS      frame i at i x 10 ms + 24.5 ms (snack's formant: a 49 ms window
            that starts at i x 10 ms).
  Quenvis   time_s, the centre of each analysis (--formant-step rows).
The peers' values are interpolated linearly to Praat's frame times where both
neighbouring frames have a value, else taken from the nearest frame.
"""
import bisect
import csv
import math
import statistics
import sys

STEP = 0.01
RAPT_LAG = 0.007
ESPS_LAG = 0.0245
PITCH_TOL = 0.05            # the three pitch trackers agree within 5 % of their median
FORMANT_TOL = (0.10, 0.07, 0.07)  # Praat and ESPS: F1, F2, F3
MAN_BELOW_HZ = 175.0        # a speaker with a lower median F0 gets the 5 000 Hz ceiling
JUMP_HZ = 200.0


def number(text):
    try:
        x = float(text)
    except ValueError:
        return 0.0
    return x if math.isfinite(x) and x > 0 else 0.0


def regular_track(path, start, step, columns=1):
    """A file of one frame a line, whitespace-separated values, frame i at start + i*step."""
    frames = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) < columns:
                continue
            frames.append([number(p) for p in parts[:columns]])
    return start, step, frames


def at(track, t, column=0):
    """Value of a regular track at time t: linear between two frames that both
    have one, else the nearest frame's (0 = none); 0 outside the track."""
    start, step, frames = track
    x = (t - start) / step
    lo = math.floor(x)
    if lo < -1 or lo >= len(frames):
        return 0.0
    a = frames[lo][column] if lo >= 0 else 0.0
    b = frames[lo + 1][column] if lo + 1 < len(frames) else 0.0
    w = x - lo
    if a > 0 and b > 0:
        return a + w * (b - a)
    return a if w < 0.5 else b


def read_praat(path):
    """Praat's frames: time, F0 (0 = unvoiced), F1-F3 at 5 000 and at 5 500 Hz."""
    rows = []
    with open(path) as f:
        for r in csv.DictReader(f):
            rows.append((float(r["time_s"]), number(r["f0"]),
                         (number(r["f1m"]), number(r["f2m"]), number(r["f3m"])),
                         (number(r["f1w"]), number(r["f2w"]), number(r["f3w"]))))
    return rows


def agree(values, tol):
    centre = statistics.median(values)
    return all(abs(v - centre) <= tol * centre for v in values)


def build(list_path, recordings_path, reference_path):
    recordings = []
    with open(list_path) as f:
        for line in f:
            rid, half, set_name, speaker, path, digest, praat, rapt, swipe, esps = line.rstrip("\n").split("|")
            recordings.append((rid, half, set_name, speaker, path, digest, read_praat(praat), rapt, swipe, esps))
    # The formant ceiling follows the speaker's voice, as a phonetician would set it.
    f0s = {}
    for r in recordings:
        f0s.setdefault((r[2], r[3]), []).extend(x[1] for x in r[6] if x[1] > 0)
    median = {k: statistics.median(v) if v else 0.0 for k, v in f0s.items()}
    man = {k: 0 < m < MAN_BELOW_HZ for k, m in median.items()}
    voice = {k: f"{'man' if man[k] else 'high'} {median[k]:.0f} Hz" for k in median}
    with open(recordings_path, "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["id", "half", "set", "speaker", "voice", "path", "sha256_16"])
        for rid, half, set_name, speaker, path, digest, *_ in recordings:
            out.writerow([rid, half, set_name, speaker, voice[(set_name, speaker)], path, digest])
    with open(reference_path, "w", newline="") as f:
        out = csv.writer(f, lineterminator="\n")
        out.writerow(["id", "time_s", "f0_hz", "f1_hz", "f2_hz", "f3_hz"])
        for rid, half, set_name, speaker, path, digest, p, rapt_path, swipe_path, esps_path in recordings:
            is_man = man[(set_name, speaker)]
            rapt = regular_track(rapt_path, RAPT_LAG, STEP)
            swipe = regular_track(swipe_path, 0.0, STEP)
            esps = regular_track(esps_path, ESPS_LAG, STEP, 3)
            for t, f0, fm, fw in p:
                pitches = [f0, at(rapt, t), at(swipe, t)]
                voiced = [x > 0 for x in pitches]
                ref_f0 = ""
                if all(voiced) and agree(pitches, PITCH_TOL):
                    ref_f0 = f"{statistics.median(pitches):.1f}"
                elif not any(voiced):
                    ref_f0 = "0"
                formants = ["", "", ""]
                praat_f = fm if is_man else fw
                esps_f = [at(esps, t, k) for k in range(3)]
                # Formants only where a vowel is likely: two of the three pitch trackers hear voice.
                if sum(voiced) >= 2 and all(praat_f) and all(esps_f) and all(
                        abs(a - b) <= tol * (a + b) / 2 for a, b, tol in zip(praat_f, esps_f, FORMANT_TOL)):
                    formants = [f"{(a + b) / 2:.0f}" for a, b in zip(praat_f, esps_f)]
                if ref_f0 or formants[0]:
                    out.writerow([rid, f"{t:.4f}", ref_f0] + formants)


# --- measuring quenvis-render against the reference ---------------------------

def read_ours(path):
    rows = []
    with open(path) as f:
        for r in csv.DictReader(f):
            rows.append((float(r["time_s"]), number(r["f0_hz"]), number(r["f1_hz"]),
                         number(r["f2_hz"]), r["voiced"] == "1"))
    return rows


def nearest_row(ours, times, t):
    i = bisect.bisect_left(times, t)
    best = None
    for j in (i - 1, i):
        if 0 <= j < len(ours) and (best is None or abs(times[j] - t) < abs(times[best] - t)):
            best = j
    if best is None or abs(times[best] - t) > STEP / 2 + 1e-6:
        return None
    return ours[best]


FIGURES = [
    # key, heading, unit, better ("min": higher is better, "max": lower is better), target
    ("pitch_ok", "F0 ok", "%", "min", 97.0),
    ("pitch_gross", "F0>20%", "%", "max", 1.0),
    ("unvoiced_voiced", "UV->V", "%", "max", 3.0),
    ("formants_given", "F1F2 given", "%", "min", 95.0),
    ("f1_median", "|dF1|", "Hz", "max", 30.0),
    ("f2_median", "|dF2|", "Hz", "max", 50.0),
    ("f3_as_f2", "F3 as F2", "%", "max", 1.0),
    ("jumps_ours", "jumps ours", "%", "max", None),  # target: no more than jumps_ref
    ("jumps_ref", "jumps ref", "%", "info", None),
]


class Tally:
    def __init__(self):
        self.pitch_frames = self.pitch_ok = self.pitch_gross = 0
        self.unvoiced_frames = self.unvoiced_voiced = 0
        self.formant_frames = self.formants_given = self.f3_as_f2 = 0
        self.d1, self.d2 = [], []
        self.pairs_ours = self.jumps_ours = self.pairs_ref = self.jumps_ref = 0
        self.seconds = 0.0

    def add(self, other):
        for k, v in vars(other).items():
            setattr(self, k, getattr(self, k) + v)

    def figures(self):
        pct = lambda a, n: 100.0 * a / n if n else None
        med = lambda v: statistics.median(v) if v else None
        return {
            "pitch_ok": pct(self.pitch_ok, self.pitch_frames),
            "pitch_gross": pct(self.pitch_gross, self.pitch_frames),
            "unvoiced_voiced": pct(self.unvoiced_voiced, self.unvoiced_frames),
            "formants_given": pct(self.formants_given, self.formant_frames),
            "f1_median": med(self.d1),
            "f2_median": med(self.d2),
            "f3_as_f2": pct(self.f3_as_f2, self.formant_frames),
            "jumps_ours": pct(self.jumps_ours, self.pairs_ours),
            "jumps_ref": pct(self.jumps_ref, self.pairs_ref),
        }


def measure(ours, ref):
    """ours: quenvis rows; ref: (time, f0 or None, (f1, f2, f3) or None) sorted by time."""
    s = Tally()
    times = [r[0] for r in ours]
    if ours:
        s.seconds = ours[-1][0] - ours[0][0] + STEP
    last = None
    for t, f0, formants in ref:
        q = nearest_row(ours, times, t)
        if f0 is not None:
            if f0 > 0:
                s.pitch_frames += 1
                if q and q[4] and q[1] > 0:
                    off = abs(q[1] - f0) / f0
                    s.pitch_ok += off <= 0.05
                    s.pitch_gross += off > 0.20
            else:
                s.unvoiced_frames += 1
                s.unvoiced_voiced += bool(q and q[4])
        if formants:
            s.formant_frames += 1
            f1, f2, f3 = formants
            if q and q[2] > 0 and q[3] > 0:
                s.formants_given += 1
            if q and q[2] > 0:
                s.d1.append(abs(q[2] - f1))
            if q and q[3] > 0:
                s.d2.append(abs(q[3] - f2))
                # Closer to F3 than to F2 too: in a front vowel F2 may lie within 7 % of F3.
                s.f3_as_f2 += abs(q[3] - f3) <= 0.07 * f3 and abs(q[3] - f3) < abs(q[3] - f2)
            if last and t - last[0] < 1.5 * STEP:
                s.pairs_ref += 1
                s.jumps_ref += abs(f2 - last[1]) > JUMP_HZ
            last = (t, f2)
        else:
            last = None
    for a, b in zip(ours, ours[1:]):
        if a[4] and b[4] and a[3] > 0 and b[3] > 0:
            s.pairs_ours += 1
            s.jumps_ours += abs(a[3] - b[3]) > JUMP_HZ
    return s


def read_reference(path):
    ref = {}
    with open(path) as f:
        for r in csv.DictReader(f):
            f0 = float(r["f0_hz"]) if r["f0_hz"] else None
            formants = tuple(float(r[k]) for k in ("f1_hz", "f2_hz", "f3_hz")) if r["f1_hz"] else None
            ref.setdefault(r["id"], []).append((float(r["time_s"]), f0, formants))
    return ref


def fmt(v, width):
    return f"{v:{width}.1f}" if v is not None else " " * (width - 1) + "-"


def worst(tallies):
    """Each figure's worst value over speakers with enough reference frames for it."""
    enough = {"pitch_ok": "pitch_frames", "pitch_gross": "pitch_frames", "unvoiced_voiced": "unvoiced_frames",
              "formants_given": "formant_frames", "f1_median": "formant_frames", "f2_median": "formant_frames",
              "f3_as_f2": "formant_frames", "jumps_ours": "pairs_ours", "jumps_ref": "pairs_ref"}
    out = {}
    for key, _, _, better, _ in FIGURES:
        values = [t.figures()[key] for t in tallies if getattr(t, enough[key]) >= MIN_FRAMES]
        values = [v for v in values if v is not None]
        out[key] = (min(values) if better == "min" else max(values)) if values else None
    return out


MIN_FRAMES = 50  # a speaker with fewer reference frames for a figure is left out of its worst


def print_table(title, rows, worst_of=None):
    print(title)
    head = f"{'':34} {'s':>5} {'n F0':>5} " + " ".join(f"{h:>10}" for _, h, *_ in FIGURES) + f" {'n fmt':>6}"
    print(head)
    for label, tally in rows:
        figs = tally.figures()
        print(f"{label[:34]:34} {tally.seconds:5.0f} {tally.pitch_frames:5d} "
              + " ".join(fmt(figs[k], 10) for k, *_ in FIGURES) + f" {tally.formant_frames:6d}")
    if worst_of:
        figs = worst(worst_of)
        print(f"{'  worst speaker':34} {'':5} {'':5} " + " ".join(fmt(figs[k], 10) for k, *_ in FIGURES))
    print("target" + " " * 41 + " ".join(
        f"{('>=' if better == 'min' else '<=') + format(target, 'g'):>10}" if target is not None
        else f"{'<=ref' if key == 'jumps_ours' else '':>10}" for key, _, _, better, target in FIGURES))
    print()


def read_limits(path):
    """Lines "half figure limit" (# comments); the direction is the figure's own."""
    limits = []
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if line:
                limits.append((line[0], line[1], float(line[2])))
    return limits


def compare(recordings_path, reference_path, outdir, limits_path=None, suggest=False):
    ref = read_reference(reference_path)
    with open(recordings_path) as f:
        recordings = list(csv.DictReader(f))
    per_speaker, per_set, per_half, overall = {}, {}, {}, Tally()
    speakers_of_half = {}
    order = []
    for r in recordings:
        ours = read_ours(f"{outdir}/{r['id']}/formants.csv")
        s = measure(ours, ref.get(r["id"], []))
        key = (r["set"], r["speaker"], r["voice"])
        if key not in per_speaker:
            order.append(key)
            per_speaker[key] = Tally()
        for table, k in ((per_speaker, key), (per_set, r["set"]), (per_half, r["half"])):
            table.setdefault(k, Tally()).add(s)
        speakers_of_half.setdefault(r["half"], {}).setdefault(key, Tally()).add(s)
        overall.add(s)
    sets = []
    for key in order:
        if key[0] not in sets:
            sets.append(key[0])
    for name in sets:
        rows = [(f"  {sp} ({voice})", per_speaker[(st, sp, voice)]) for st, sp, voice in order if st == name]
        print_table(name, rows + [("  whole set", per_set[name])],
                    [t for (st, _, _), t in per_speaker.items() if st == name] if len(rows) > 1 else None)
    print_table("overall", [(f"  {h}", per_half[h]) for h in sorted(per_half)] + [("  all", overall)],
                list(per_speaker.values()))
    print("worst speaker: of those with at least 50 reference frames for the figure; targets for the worst")
    print("speaker: F0 ok >= 95 %, the others as for a set.")
    print("F0 ok: voiced and within 5 % where Praat, RAPT and SWIPE agree; F0>20%: more than 20 % off there;")
    print("UV->V: voiced where all three hear none; F1F2 given, |dF1|, |dF2| (medians), F3 as F2: where Praat")
    print("and ESPS agree; jumps: |dF2| > 200 Hz between consecutive analyses (ours: where we give F2 twice;")
    print("ref: consecutive agreeing frames). s: seconds analysed; n F0 / n fmt: reference frames.")
    if not limits_path:
        return 0
    failed = 0
    print()
    print(f"{'half':9} {'figure':22} {'today':>8} {'limit':>9} {'target':>8}")
    directions = {k: (better, target) for k, _, _, better, target in FIGURES}
    suggested = []
    for half, key, limit in read_limits(limits_path):
        if key not in directions and not (key.startswith("worst_") and key[len("worst_"):] in directions):
            print(f"unknown figure in {limits_path}: {key}")
            failed += 1
            continue
        if key.startswith("worst_"):
            base = key[len("worst_"):]
            better, target = directions[base]
            value = worst(list(speakers_of_half.get(half, {}).values()))[base]
            if base == "pitch_ok":
                target = 95.0
        else:
            better, target = directions[key]
            value = per_half[half].figures()[key] if half in per_half else None
            if key == "jumps_ours" and half in per_half:
                target = per_half[half].figures()["jumps_ref"]
        ok = value is not None and (value >= limit if better == "min" else value <= limit)
        failed += not ok
        print(f"{half:9} {key:22} {fmt(value, 8)} {('>=' if better == 'min' else '<=')}{limit:6.1f} "
              f"{fmt(target, 8)}  {'ok' if ok else 'WORSE'}")
        if value is not None:
            margin = 0.5 if "gross" in key else 3.0 if "median" in key else 1.0
            if key.startswith("worst_"):
                margin *= 2
            new = value - margin if better == "min" else value + margin
            suggested.append(f"{half:7} {key:22} {new:6.1f}     # {value:4.1f}")
    print(f"limits: {len(read_limits(limits_path)) - failed} held, {failed} worse")
    if suggest:
        print("\nToday's figures as limits (the margins of the limits file):")
        print("\n".join(suggested))
    return 1 if failed else 0


def main(argv):
    if len(argv) >= 4 and argv[0] == "build":
        build(argv[1], argv[2], argv[3])
        return 0
    if len(argv) >= 4 and argv[0] == "compare":
        limits = argv[argv.index("--limits") + 1] if "--limits" in argv else None
        return compare(argv[1], argv[2], argv[3], limits, "--suggest" in argv)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
