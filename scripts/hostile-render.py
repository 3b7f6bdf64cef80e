#!/usr/bin/env python3
"""Renders mutated recordings of many formats with quenvis-render and tallies
what went wrong.

  hostile-render.py [--exe BUILD/src/render/quenvis-render] [--runs 5000]
                    [--jobs 2] [--seed 1] [--timeout 60] [--findings DIR]

Base recordings are made with sox (and, for RF64, MP3 and Opus, with a small
libsndfile converter compiled here); each run takes one, mutates its bytes
(bit flips, huge or zero header sizes, cuts, splices, repeats) and feeds it
as a file, through a pipe, as a redirect or through a FIFO; a few runs get
SIGINT, SIGTERM or SIGHUP part way. Every run must end with status 0 and all
outputs, or status 2, one line and nothing left. Counted as faults:
  abort    a signal of its own, a sanitizer report, another exit status
  timeout  still running after --timeout seconds (or 5 s after a signal)
  partial  a success without every output, or a failure that left OUTDIR
  silent   a failure without its line, or a success with no block rendered
  outside  a file written anywhere but OUTDIR (working folder, TMPDIR, inputs)
Inputs of faulty runs are kept in --findings with their stderr.
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

OUTPUTS = {"chart.png", "formants.csv", "peaks.csv", "plot.png", "spectrum.png", "summary.csv",
           "voice.csv"}

CONVERTER = r"""
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv) {
  if (argc != 4) return 2;
  SF_INFO in = {0};
  SNDFILE* a = sf_open(argv[1], SFM_READ, &in);
  if (!a) return 1;
  SF_INFO out = in;
  out.format = (int)strtol(argv[3], NULL, 16);
  SNDFILE* b = sf_open(argv[2], SFM_WRITE, &out);
  if (!b) return 1;
  float buf[8192];
  sf_count_t n;
  while ((n = sf_readf_float(a, buf, 8192 / in.channels)) > 0) sf_writef_float(b, buf, n);
  sf_close(a);
  return sf_close(b) == 0 ? 0 : 1;
}
"""

# sox arguments of the base recordings: (file name, output options, rate, channels).
SOX_BASES = [
    ("s16.wav", ["-b", "16"], 44100, 2),
    ("s24.wav", ["-b", "24"], 44100, 1),
    ("s32.wav", ["-b", "32"], 44100, 2),
    ("float.wav", ["-b", "32", "-e", "floating-point"], 44100, 2),
    ("double.wav", ["-b", "64", "-e", "floating-point"], 44100, 1),
    ("u8.wav", ["-b", "8", "-e", "unsigned"], 44100, 1),
    ("ulaw.wav", ["-b", "8", "-e", "u-law"], 8000, 1),
    ("alaw.wav", ["-b", "8", "-e", "a-law"], 44100, 2),
    ("ima.wav", ["-e", "ima-adpcm"], 44100, 2),
    ("ms.wav", ["-e", "ms-adpcm"], 22050, 1),
    ("gsm.wav", ["-e", "gsm-full-rate"], 8000, 1),
    ("s16.aiff", ["-b", "16"], 44100, 2),
    ("float.aifc", ["-b", "32", "-e", "floating-point"], 48000, 2),
    ("s16.au", ["-b", "16"], 44100, 1),
    ("float.au", ["-b", "32", "-e", "floating-point"], 44100, 2),
    ("s16.w64", ["-b", "16"], 44100, 2),
    ("s24.flac", ["-b", "24"], 44100, 2),
    ("s16.flac", ["-b", "16"], 96000, 1),
    ("vorbis.ogg", [], 44100, 2),
    ("s16.caf", ["-b", "16"], 44100, 2),
    ("s16.voc", ["-b", "16"], 22050, 1),
    ("s16.sf", ["-b", "16"], 44100, 1),
    ("s16.sph", ["-b", "16"], 16000, 1),
    ("s16.avr", ["-b", "16"], 44100, 1),
    ("s16.paf", ["-b", "16"], 44100, 2),
    ("s16.mat5", ["-b", "16"], 44100, 1),
    ("s16.xi", ["-b", "16"], 44100, 1),
    ("s16.htk", ["-b", "16"], 16000, 1),
    ("six.wav", ["-b", "16"], 44100, 6),
]
# libsndfile formats (major | minor, hex) made from s16.wav or a 48 kHz copy.
SNDFILE_BASES = [
    ("s16.rf64", "220002", 44100),
    ("l3.mp3", "230082", 44100),
    ("opus.opus", "200064", 48000),
    ("float.rf64", "220006", 44100),
]

HUGE = [0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 0x7FFFF000, 0xFFFFFFF0, 0]
TAGS = [b"RIFF", b"data", b"fmt ", b"ds64", b"FORM", b"COMM", b"SSND", b"fLaC", b"OggS",
        b"Xing", b"Info", b"caff", b"desc", b".snd", b"riff", b"LIST", b"fact"]


def make_bases(work):
    bases = []
    src = os.path.join(work, "bases")
    os.makedirs(src)
    for name, opts, rate, channels in SOX_BASES:
        path = os.path.join(src, name)
        seconds = 0.3 + 0.4 * (len(bases) % 3)
        synth = ["synth", str(seconds), "sine", "300", "sine", "1500", "gain", "-6"]
        if channels > 2:
            synth = ["synth", str(seconds)] + ["sine", "300"] * channels + ["gain", "-6"]
        cmd = ["sox", "-V1", "-D", "-n", "-r", str(rate), "-c", str(channels)] + opts + [path] + synth
        if subprocess.run(cmd, stderr=subprocess.DEVNULL).returncode == 0:
            bases.append(path)
    conv = os.path.join(work, "conv")
    ok = subprocess.run(["cc", "-x", "c", "-", "-o", conv, "-lsndfile"], input=CONVERTER.encode(),
                        stderr=subprocess.DEVNULL).returncode == 0
    if ok:
        s48 = os.path.join(src, "s16-48k.wav")
        subprocess.run(["sox", "-V1", "-n", "-r", "48000", "-c", "2", "-b", "16", s48, "synth", "0.7",
                        "sine", "300", "sine", "1500", "gain", "-6"], stderr=subprocess.DEVNULL)
        for name, fmt, rate in SNDFILE_BASES:
            path = os.path.join(src, name)
            base = s48 if rate == 48000 else os.path.join(src, "s16.wav")
            if subprocess.run([conv, base, path, fmt], stderr=subprocess.DEVNULL).returncode == 0:
                bases.append(path)
    return bases


def mutate(rng, data, bases_data):
    d = bytearray(data)
    kind = rng.choice(["flip", "bytes", "size", "tag-size", "cut", "splice", "repeat", "insert",
                       "delete", "none", "size", "tag-size", "flip"])
    if kind == "flip":
        for _ in range(rng.randint(1, 16)):
            i = rng.randrange(len(d))
            d[i] ^= 1 << rng.randrange(8)
    elif kind == "bytes":
        for _ in range(rng.randint(1, 8)):
            i = rng.randrange(min(len(d), 256))
            d[i] = rng.choice([0, 0xFF, 0x7F, 0x80, rng.randrange(256)])
    elif kind == "size":
        i = rng.randrange(0, max(1, min(len(d), 128) - 4))
        v = rng.choice(HUGE)
        d[i:i + 4] = v.to_bytes(4, rng.choice(["little", "big"]))
    elif kind == "tag-size":
        found = [i for t in TAGS for i in [d.find(t)] if i >= 0]
        if found:
            i = rng.choice(found) + 4
            width = rng.choice([4, 4, 8])
            v = rng.choice(HUGE + [0x7FFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF]) & ((1 << (8 * width)) - 1)
            d[i:i + width] = v.to_bytes(width, rng.choice(["little", "big"]))
    elif kind == "cut":
        d = d[:rng.randrange(1, len(d))]
    elif kind == "splice":
        other = rng.choice(bases_data)
        d = d[:rng.randrange(len(d))] + other[rng.randrange(len(other)):]
    elif kind == "repeat":
        i = rng.randrange(len(d))
        j = min(len(d), i + rng.randint(1, 4096))
        d = d[:j] + d[i:j] * rng.randint(1, 8) + d[j:]
    elif kind == "insert":
        i = rng.randrange(len(d))
        d = d[:i] + bytes(rng.randrange(256) for _ in range(rng.randint(1, 64))) + d[i:]
    elif kind == "delete":
        i = rng.randrange(len(d))
        d = d[:i] + d[i + rng.randint(1, 512):]
    return bytes(d), kind


def listing(path):
    found = set()
    for top, dirs, files in os.walk(path):
        for n in dirs + files:
            found.add(os.path.relpath(os.path.join(top, n), path))
    return found


def run_one(args, index, bases, bases_data, findings, tally, lock):
    try:
        return run_checked(args, index, bases, bases_data, findings, tally, lock)
    except Exception as e:  # the machine, not the program: fork failed, ...
        with lock:
            tally["harness"] += 1
            tally["harness:" + type(e).__name__] += 1
        return ["harness"]


def complete(names):
    pages = {n for n in names if n.startswith("spectrogram")}
    return OUTPUTS <= names and pages and not names - OUTPUTS - pages - {"power.csv", "power.npy"}


def run_checked(args, index, bases, bases_data, findings, tally, lock):
    rng = random.Random(args.seed * 1000003 + index)
    base = rng.choice(bases)
    data, kind = mutate(rng, bases_data[base], list(bases_data.values()))
    mode = rng.choice(["file", "file", "pipe", "redirect", "fifo"])
    sig = rng.choice([signal.SIGINT, signal.SIGTERM, signal.SIGHUP]) if rng.random() < 0.04 else 0
    run = tempfile.mkdtemp(prefix="run-", dir=args.work)
    inputs, cwd, tmp, xdg = (os.path.join(run, n) for n in ("in", "cwd", "tmp", "xdg"))
    for p in (inputs, cwd, tmp, xdg):
        os.makedirs(p, mode=0o700)
    ext = os.path.splitext(base)[1]
    infile = os.path.join(inputs, "input" + ext)
    with open(infile, "wb") as f:
        f.write(data)
    out = os.path.join(run, "out")
    # As in a desktop session: without a runtime folder Qt makes one in TMPDIR.
    env = dict(os.environ, TMPDIR=tmp, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=xdg)
    supp = os.path.join(ROOT, "tests")
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=1:suppressions=%s/asan.supp" % supp)
    env.setdefault("LSAN_OPTIONS", "suppressions=%s/lsan.supp:print_suppressions=0" % supp)
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    target = infile if mode == "file" else "-"
    feeder = None
    stdin = subprocess.DEVNULL
    if mode == "redirect":
        stdin = open(infile, "rb")
    elif mode == "pipe":
        feeder = subprocess.Popen(["cat", infile], stdout=subprocess.PIPE)
        stdin = feeder.stdout
    elif mode == "fifo":
        target = os.path.join(inputs, "fifo")
        os.mkfifo(target)
    start = time.monotonic()
    try:
        proc = subprocess.Popen([args.exe, "--quiet", target, out], stdin=stdin, cwd=cwd, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                start_new_session=True)
    except OSError:
        if feeder:
            feeder.kill()
            feeder.stdout.close()
            feeder.wait()
        shutil.rmtree(run, ignore_errors=True)
        raise
    if mode == "redirect":
        stdin.close()
    if feeder:
        feeder.stdout.close()
    if mode == "fifo":
        def write_fifo():
            try:
                with open(target, "wb") as f:
                    f.write(data)
            except OSError:
                pass
        threading.Thread(target=write_fifo, daemon=True).start()
    timeout = args.timeout
    if sig:
        time.sleep(rng.uniform(0, 0.6))
        try:
            os.kill(proc.pid, sig)
        except ProcessLookupError:
            pass
        timeout = 5 * args.slow
    faults = []
    try:
        _, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        _, err = proc.communicate()
        faults.append("timeout")
    if mode == "fifo":
        try:  # a writer still waiting for a reader
            fd = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
            os.close(fd)
        except OSError:
            pass
    if feeder:
        feeder.wait()
    elapsed = time.monotonic() - start
    err = err.decode("utf-8", "replace")
    lines = [l for l in err.splitlines() if l.startswith("quenvis-render: ")]
    status = proc.returncode
    signalled = status is not None and status < 0
    if "timeout" not in faults:
        if any(s in err for s in ("Sanitizer", "runtime error:")):
            faults.append("abort")
        elif signalled and -status != sig:
            faults.append("abort")
        elif not signalled and status not in (0, 2):
            faults.append("abort")
    outputs = listing(out) if os.path.isdir(out) else None
    if "timeout" not in faults and "abort" not in faults:
        if signalled:
            # Ended by the signal: nothing left, or (when the signal came once
            # the outputs were in place) all of them.
            if outputs is not None and not complete(outputs):
                faults.append("partial")
        elif status == 0:
            names = outputs or set()
            if not complete(names):
                faults.append("partial")
            rows = 0
            if "peaks.csv" in names:
                with open(os.path.join(out, "peaks.csv")) as f:
                    rows = sum(1 for _ in f) - 1
            if rows < 1:
                faults.append("silent")
        else:
            if outputs is not None:
                faults.append("partial")
            if len(lines) != 1:
                faults.append("silent")
    left = listing(cwd) | listing(tmp) | listing(xdg)
    left |= listing(inputs) - {os.path.basename(infile), "fifo"}
    left |= set(os.listdir(run)) - {"in", "cwd", "tmp", "xdg", "out"}
    if left:
        faults.append("outside")
        err += "\nwritten outside OUTDIR: %s\n" % sorted(left)
    with lock:
        tally["runs"] += 1
        tally["mode:" + mode] += 1
        tally["ok" if status == 0 else "refused" if not signalled else "signalled"] += 1
        for f in set(faults):
            tally[f] += 1
        tally["seconds"] += elapsed
    if faults and findings:
        keep = os.path.join(findings, "%05d-%s-%s-%s%s" % (index, "-".join(sorted(set(faults))),
                                                           mode, kind, ext))
        shutil.copyfile(infile, keep)
        with open(keep + ".stderr", "w") as f:
            f.write("status %s signal %s base %s\n%s\nOUTDIR: %s\n" % (
                status, sig, os.path.basename(base), err, sorted(outputs) if outputs else outputs))
    shutil.rmtree(run, ignore_errors=True)
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", default=os.path.join(ROOT, "build/src/render/quenvis-render"))
    parser.add_argument("--runs", type=int, default=5000)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--slow", type=float, default=1, help="factor for the 5 s after a signal")
    parser.add_argument("--findings", default="")
    args = parser.parse_args()
    args.exe = os.path.abspath(args.exe)
    if not os.access(args.exe, os.X_OK):
        sys.exit("hostile-render: no %s; build it first" % args.exe)
    # Runs leave stopped FIFO writers and cats to the pipes they are given.
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    args.work = tempfile.mkdtemp(prefix="hostile-render-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    if args.findings:
        os.makedirs(args.findings, exist_ok=True)
    try:
        bases = make_bases(args.work)
        bases_data = {}
        for b in bases:
            with open(b, "rb") as f:
                bases_data[b] = f.read()
        print("hostile-render: %d base recordings, %d runs, %d jobs, %s" %
              (len(bases), args.runs, args.jobs, args.exe), flush=True)
        from collections import Counter
        tally = Counter()
        lock = threading.Lock()
        done = 0
        with ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [pool.submit(run_one, args, i, bases, bases_data, args.findings, tally, lock)
                       for i in range(args.runs)]
            for f in futures:
                f.result()
                done += 1
                if done % 500 == 0:
                    print("  %d runs: %s" % (done, dict(sorted(tally.items()))), flush=True)
        faults = ["abort", "timeout", "partial", "silent", "outside"]
        print("runs %d (ok %d, refused %d, ended by a signal %d); %s; %.0f s of runs" % (
            tally["runs"], tally["ok"], tally["refused"], tally["signalled"],
            ", ".join("%s %d" % (m, tally["mode:" + m]) for m in ("file", "pipe", "redirect", "fifo")),
            tally["seconds"]))
        print("faults: " + ", ".join("%s %d" % (f, tally[f]) for f in faults))
        if tally["harness"]:
            print("not counted, the machine failed the harness: %s" % {
                k: v for k, v in tally.items() if k.startswith("harness")})
        return 1 if any(tally[f] for f in faults) else 0
    finally:
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
