#!/usr/bin/env python3
"""Damaged copies of the corpus files, read by two builds of pagewright-convert and by two
peers (qpdf and mutool): counts the cases where a peer recovers more pages than a build.

Each corpus file is cut at 5 %, 10 %, ... 95 % of its length, and shifted by a line of
junk inserted at 25 %, 50 % and 75 % of it. A build's pages are those of the file it wrote
(0 when it failed); a peer's are what `qpdf --show-npages` and `mutool pages` report of
the damaged file itself. Every run has a timeout (a run that hits it counts 0 pages).

Usage: damaged.py OLD_EXE NEW_EXE [--corpus DIR] [--jobs N] [--step PERCENT]
                  [--files REGEX] [--peers-cache FILE] [--list]

--peers-cache keeps the peers' counts in a JSON file, so a second run after a change to
the builds runs only them. --list prints every case a peer wins, with the counts.
The whole corpus at the default step takes about 10 minutes on 2 cores."""
import argparse
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

from compare_corpus import passwords  # the MANIFEST's user passwords, read one way

TIMEOUT = 20
JUNK = b"\n% junk inserted here, shifting every offset after it\n"


def run(argv):
    try:
        r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        return r.returncode, r.stdout
    except subprocess.TimeoutExpired:
        return -1, b""


def qpdf_pages(path, password):
    code, out = run(["qpdf", "--password=" + (password or ""), "--show-npages", path])
    try:
        return int(out.strip()) if code in (0, 3) else 0
    except ValueError:
        return 0


def mutool_pages(path, password):
    argv = ["mutool", "pages"] + (["-p", password] if password else []) + [path]
    _, out = run(argv)
    # A page it could not load is listed too, with "Failed to gather information".
    return len(re.findall(rb"<page [^>]*>\s*<MediaBox", out))


def build_pages(exe, path, password, out):
    if os.path.exists(out):
        os.unlink(out)
    code, _ = run([exe, "--quiet"] + (["--password=" + password] if password else []) + [path, out])
    if code not in (0, 3) or not os.path.exists(out):
        return 0, code
    return qpdf_pages(out, password), code


def damaged_copies(data, step):
    for pct in range(step, 100, step):
        yield f"cut{pct}", data[: len(data) * pct // 100]
    for pct in (25, 50, 75):
        at = len(data) * pct // 100
        yield f"shift{pct}", data[:at] + JUNK + data[at:]


def one_case(args):
    tmp, name, kind, path, password, old, new, peers = args
    base = os.path.join(tmp, f"{name}.{kind}")
    if peers is None:
        peers = [qpdf_pages(path, password), mutool_pages(path, password)]
    o, ocode = build_pages(old, path, password, base + ".old.pdf")
    n, ncode = build_pages(new, path, password, base + ".new.pdf")
    for p in (base + ".old.pdf", base + ".new.pdf"):
        if os.path.exists(p):
            os.unlink(p)
    os.unlink(path)
    return name, kind, peers, (o, ocode), (n, ncode)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("old")
    ap.add_argument("new")
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--step", type=int, default=5)
    ap.add_argument("--files", default="")
    ap.add_argument("--peers-cache")
    ap.add_argument("--list", action="store_true")
    a = ap.parse_args()
    old, new = os.path.abspath(a.old), os.path.abspath(a.new)
    pw = passwords(a.corpus)
    cache = {}
    if a.peers_cache and os.path.exists(a.peers_cache):
        cache = json.load(open(a.peers_cache))
    names = sorted(n for n in os.listdir(a.corpus) if n.lower().endswith(".pdf") and re.search(a.files, n))
    results = []
    with tempfile.TemporaryDirectory() as tmp:
        work = []
        for name in names:
            data = open(os.path.join(a.corpus, name), "rb").read()
            for kind, bytes_ in damaged_copies(data, a.step):
                path = os.path.join(tmp, f"{name}.{kind}.pdf")
                with open(path, "wb") as f:
                    f.write(bytes_)
                work.append((tmp, name, kind, path, pw.get(name), old, new, cache.get(f"{name}:{kind}")))
        with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
            for r in pool.map(one_case, work):
                results.append(r)
                cache[f"{r[0]}:{r[1]}"] = r[2]
    if a.peers_cache:
        json.dump(cache, open(a.peers_cache, "w"))

    def losses(which):
        return [r for r in results if max(r[2]) > r[which][0]]

    lost_old, lost_new = losses(3), losses(4)
    print(f"{len(results)} damaged copies of {len(names)} files")
    for label, lost, which in (("old", lost_old, 3), ("new", lost_new, 4)):
        by = {"qpdf": sum(1 for r in lost if r[2][0] > r[which][0]),
              "mutool": sum(1 for r in lost if r[2][1] > r[which][0])}
        zero_ok = sum(1 for r in results if r[which][1] in (0, 3) and r[which][0] == 0)
        failed = sum(1 for r in results if r[which][1] not in (0, 3))
        print(f"{label}: a peer recovers more pages in {len(lost)} cases (qpdf {by['qpdf']}, mutool {by['mutool']}); "
              f"{failed} failed, {zero_ok} written with no page")
    if a.list:
        for r in lost_new:
            print(f"  {r[0]} {r[1]}: qpdf {r[2][0]} mutool {r[2][1]} old {r[3][0]} (exit {r[3][1]}) "
                  f"new {r[4][0]} (exit {r[4][1]})")
    gained = [r for r in results if r[4][0] > r[3][0]]
    lost = [r for r in results if r[4][0] < r[3][0]]
    print(f"new against old: more pages in {len(gained)} cases, fewer in {len(lost)}")
    for r in lost:
        print(f"  fewer: {r[0]} {r[1]}: old {r[3][0]} new {r[4][0]} (exit {r[4][1]})")


if __name__ == "__main__":
    main()
