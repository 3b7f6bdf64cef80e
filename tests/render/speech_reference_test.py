#!/usr/bin/env python3
"""Holds quenvis-render --formant-step 10 on recorded speech (Debian's
packaged prompts and channel names, see scripts/setup.sh) to today's figures
against the agreement reference in data/speech-reference/ (made by
scripts/speech-vs-reference.sh --test-sets --write-data data/speech-reference).
The limits are in tests/render/speech_reference_limits.txt.
  speech_reference_test.py QUENVIS_RENDER SOURCE_DIR [--suggest]
--suggest also prints today's figures as lines for the limits file.
"""
import csv
import hashlib
import os
import subprocess
import sys
import tempfile

render, source = sys.argv[1], sys.argv[2]
sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(source, "scripts"))
import speech_reference as S  # noqa: E402


def harness_cases():
    """The measurement itself, on tracks whose figures are known."""
    ref = [(0.10 + 0.01 * i, 200.0, (500.0, 1500.0, 2500.0)) for i in range(10)]
    ref += [(0.20 + 0.01 * i, 0.0, None) for i in range(10)]
    row = lambda t, f0, f1, f2, v: (t, f0, f1, f2, v)
    times = [0.10 + 0.01 * i + 0.002 for i in range(20)]  # our rows 2 ms off the grid
    cases = [
        ("exact", [row(t, 200, 500, 1500, i < 10) for i, t in enumerate(times)],
         {"pitch_ok": 100, "pitch_gross": 0, "unvoiced_voiced": 0, "formants_given": 100,
          "f1_median": 0, "f2_median": 0, "f3_as_f2": 0}),
        ("octave up, F3 as F2, hum", [row(t, 400, 530, 2450, True) for t in times],
         {"pitch_ok": 0, "pitch_gross": 100, "unvoiced_voiced": 100, "formants_given": 100,
          "f1_median": 30, "f2_median": 950, "f3_as_f2": 100}),
        ("4 % off, F2 blank half the time",
         [row(t, 208, 500, 1500 if i % 2 else 0, i < 10) for i, t in enumerate(times)],
         {"pitch_ok": 100, "pitch_gross": 0, "formants_given": 50, "f2_median": 0}),
        ("rows too far from the grid", [row(t + 0.006, 200, 500, 1500, True) for t in times[:10]],
         {"pitch_ok": 90, "formants_given": 90}),
    ]
    failed = 0
    for name, ours, want in cases:
        got = S.measure(ours, ref).figures()
        for key, value in want.items():
            if got[key] is None or abs(got[key] - value) > 1e-6:
                print(f"harness case '{name}': {key} = {got[key]}, expected {value}")
                failed += 1
    # F2 jumps: ours over consecutive voiced rows with F2, the reference's over agreeing frames.
    ours = [row(0.1 + 0.01 * i, 200, 500, 1500 + (300 if i == 5 else 0), True) for i in range(11)]
    got = S.measure(ours, ref[:10]).figures()
    if abs(got["jumps_ours"] - 20.0) > 1e-6 or got["jumps_ref"] != 0.0:
        print(f"harness case 'jumps': {got['jumps_ours']} / {got['jumps_ref']}, expected 20 / 0")
        failed += 1
    # Bringing a peer's frames to Praat's times: frame i of RAPT lies at i x 10 ms + 7 ms.
    track = (S.RAPT_LAG, S.STEP, [[100.0], [110.0], [0.0], [130.0]])
    for t, want in ((0.007, 100.0), (0.012, 105.0), (0.021, 110.0), (0.023, 0.0),
                    (0.036, 130.0), (0.05, 0.0), (0.003, 100.0), (0.0, 0.0), (-0.01, 0.0)):
        got = S.at(track, t)
        if abs(got - want) > 1e-9:
            print(f"at({t}) = {got}, expected {want}")
            failed += 1
    # Agreement: each within the tolerance of the median.
    for values, tol, want in (([200, 205, 209], 0.05, True), ([200, 212, 211], 0.05, False),
                              ([100, 200, 205], 0.05, False), ([500, 540, 500], 0.10, True)):
        if S.agree(values, tol) != want:
            print(f"agree({values}, {tol}) != {want}")
            failed += 1
    return failed


def main():
    if harness_cases():
        return 1
    data = os.path.join(source, "data", "speech-reference")
    with open(os.path.join(data, "recordings.csv")) as f:
        recordings = list(csv.DictReader(f))
    with tempfile.TemporaryDirectory() as work:
        inputs = []
        for r in recordings:
            path = r["path"]
            if not os.path.isfile(path):
                print(f"missing recording {path}: run scripts/setup.sh")
                return 1
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()[:16]
            if digest != r["sha256_16"]:
                print(f"{path} differs from the one the reference was made from; remake it with "
                      "scripts/speech-vs-reference.sh --test-sets --write-data data/speech-reference")
                return 1
            wav = os.path.join(work, r["id"] + ".wav")
            # The same conversion as the reference's: mono 16-bit, no dither.
            subprocess.run(["sox", "-D", path, "-c", "1", "-b", "16", wav], check=True)
            inputs.append(wav)
        out = os.path.join(work, "quenvis")
        run = subprocess.run([render, "--quiet", "--formant-step", "10"] + inputs + [out],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if run.returncode != 0:
            print(run.stderr)
            print(f"quenvis-render failed ({run.returncode})")
            return 1
        return S.compare(os.path.join(data, "recordings.csv"), os.path.join(data, "reference.csv"), out,
                         os.path.join(source, "tests", "render", "speech_reference_limits.txt"),
                         "--suggest" in sys.argv)


if __name__ == "__main__":
    sys.exit(main())
