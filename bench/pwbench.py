#!/usr/bin/env python3
"""Times pagewright-convert against qpdf, mutool (when installed) and cp on whole-file
rewrites of generated inputs, and prints median wall time, CPU time and peak memory with
the ratio ours/theirs, then the targets met or missed. Ours runs as it does by default,
reading its output back, and once more with --no-verify: the difference is the read-back's
share of the time.

Peak memory is the maximum resident set size /usr/bin/time reports for the command;
wall time is measured around spawn and wait.
Runs alternate between the commands (ours, qpdf, mutool, cp, ours, ...), so a slow patch
of a shared machine falls on all of them. Inputs are made once into the cache directory
($PW_BENCH_DIR, default /tmp/pw-bench) and made again when make_inputs.py changes.

Usage: pwbench.py --exe PATH [--runs N] [--big] [--inputs a,b] [--no-mutool] [--no-check]
                   [--make-only] [--clean]"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE = os.path.join(HERE, "make_inputs.py")
MIB = 1024 * 1024


def log(*args):
    print(*args, file=sys.stderr, flush=True)


class Inputs:
    def __init__(self, cache):
        self.cache = cache
        os.makedirs(cache, exist_ok=True)
        with open(MAKE, "rb") as f:
            stamp = hashlib.sha256(f.read()).hexdigest()
        stamp_file = os.path.join(cache, "make_inputs.sha256")
        old = open(stamp_file).read().strip() if os.path.exists(stamp_file) else ""
        if old != stamp:
            # Inputs from another generator are not these inputs.
            for name in os.listdir(cache):
                if name.endswith(".pdf"):
                    os.unlink(os.path.join(cache, name))
            with open(stamp_file, "w") as f:
                f.write(stamp + "\n")

    def path(self, name):
        return os.path.join(self.cache, name + ".pdf")

    def make(self, name):
        out = self.path(name)
        if os.path.exists(out):
            return out
        tmp = out + ".part"
        log(f"making {name} ...")
        if name == "objects-objstm":
            self.qpdf(self.make("objects-classic"), tmp, ["--object-streams=generate"])
        elif name == "objects-rc4":
            self.qpdf(self.make("objects-objstm"), tmp,
                      ["--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--"])
        else:
            args = {
                "objects-classic": ["objects", "20000"],
                "images": ["images", "200"],
                "bigimage": ["bigimage"],
                "huge": ["images", "420"],
                "rawimages": ["rawimages", "60"],
                "empty": ["objects", "0"],
                "scale-2k": ["objects", "250"],
                "scale-20k": ["objects", "2500"],
                "scale-200k": ["objects", "25000"],
            }[name]
            subprocess.run([sys.executable, MAKE, *args, tmp], check=True)
        os.rename(tmp, out)
        return out

    @staticmethod
    def qpdf(src, dst, options):
        # Exit 3 is qpdf's "done with warnings"; a static /ID keeps the bytes fixed.
        r = subprocess.run(["qpdf", "--static-id", *options, src, dst])
        if r.returncode not in (0, 3):
            sys.exit(f"qpdf could not make {dst}")


def object_count(path):
    """The /Size of the file's newest trailer or cross-reference stream."""
    with open(path, "rb") as f:
        f.seek(max(0, os.path.getsize(path) - 4096))
        tail = f.read()
        i = tail.rfind(b"/Size")
        if i < 0:
            # A cross-reference stream: its dictionary stands at the startxref offset.
            j = tail.rfind(b"startxref")
            f.seek(int(tail[j + 9:].split()[0]))
            tail = f.read(4096)
            i = tail.find(b"/Size")
    return int(tail[i + 5:].split()[0].rstrip(b"/>")) if i >= 0 else 0


RSS_FILE = os.path.join(tempfile.gettempdir(), f"pwbench-rss-{os.getpid()}.txt")


def run_once(argv):
    """(wall seconds, CPU seconds, peak RSS bytes, exit status) of one run.

    The command runs under /usr/bin/time, whose %M is the peak RSS of the command alone
    (a child started straight from this script would inherit python's own peak); CPU
    time is what wait4 reports for both, /usr/bin/time's share being a millisecond."""
    with open(os.devnull, "wb") as null:
        fa = [(os.POSIX_SPAWN_DUP2, null.fileno(), 1), (os.POSIX_SPAWN_DUP2, null.fileno(), 2)]
        timed = ["/usr/bin/time", "-f", "%M", "-o", RSS_FILE, *argv]
        start = time.perf_counter()
        pid = os.posix_spawn(timed[0], timed, os.environ, file_actions=fa)
        _, status, ru = os.wait4(pid, 0)
        wall = time.perf_counter() - start
    with open(RSS_FILE) as f:
        rss_kib = int(f.read().split()[-1])
    os.unlink(RSS_FILE)
    return wall, ru.ru_utime + ru.ru_stime, rss_kib * 1024, os.waitstatus_to_exitcode(status)


class Tool:
    def __init__(self, name, make_argv, ok_codes):
        self.name, self.make_argv, self.ok_codes = name, make_argv, ok_codes


def tools(exe, want_mutool):
    # "ours" is the default, reading its output back; "noverify" the same without that.
    t = [Tool("ours", lambda i, o: [exe, "--quiet", i, o], (0, 3)),
         Tool("noverify", lambda i, o: [exe, "--quiet", "--no-verify", i, o], (0, 3)),
         Tool("qpdf", lambda i, o: ["qpdf", "--object-streams=disable", "--force-version=1.4", i, o], (0, 3))]
    if want_mutool and shutil.which("mutool"):
        t.append(Tool("mutool", lambda i, o: ["mutool", "clean", "-gg", i, o], (0,)))
    t.append(Tool("cp", lambda i, o: ["cp", i, o], (0,)))
    return t


def measure(tool_list, src, out, runs):
    """Median (wall, CPU, RSS) per tool name; None for a tool that failed."""
    samples = {t.name: [] for t in tool_list}
    failed = {}
    for _ in range(runs):
        for t in tool_list:
            if t.name in failed:
                continue
            wall, cpu, rss, code = run_once(t.make_argv(src, out))
            if os.path.exists(out):
                os.unlink(out)
            if code not in t.ok_codes:
                failed[t.name] = code
                continue
            samples[t.name].append((wall, cpu, rss))
    result = {}
    for name, s in samples.items():
        if name in failed or not s:
            result[name] = None
            continue
        result[name] = tuple(statistics.median(x[k] for x in s) for k in range(3))
    return result, failed


def check_output(exe, src, out):
    """Whether our output of src passes qpdf --check (not timed)."""
    r = subprocess.run([exe, "--quiet", src, out], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode not in (0, 3):
        return "convert failed: " + r.stderr.decode(errors="replace").strip()
    c = subprocess.run(["qpdf", "--check", out], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    os.unlink(out)
    return "ok" if c.returncode in (0, 3) else "qpdf --check: " + c.stderr.decode(errors="replace").strip()[:200]


def fmt_row(name, m, ours):
    if m is None:
        return f"  {name:<8} {'failed':>9}"
    wall, cpu, rss = m
    row = f"  {name:<8} {wall:9.3f} s {cpu:8.3f} s {rss / MIB:9.1f} MiB"
    if ours and name == "noverify":
        row += f"   read-back: {max(ours[0] - wall, 0) / ours[0] * 100:5.1f} % of our time, " \
               f"memory {ours[2] / rss:4.2f}x"
    elif ours and name != "ours":
        row += f"   ours/{name}: time {ours[0] / wall:6.2f}x  CPU {ours[1] / max(cpu, 1e-6):6.2f}x  memory {ours[2] / rss:6.2f}x"
    return row


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def measure_compression(exe, src, out, runs):
    """Save-time compression of unfiltered images at zlib's default level: ours on every
    core and on one thread against qpdf; (ours, qpdf, same output) or None."""
    zl = [Tool("ours", lambda i, o: [exe, "--quiet", "--compress=flate", i, o], (0, 3)),
          Tool("ours-1", lambda i, o: [exe, "--quiet", "--compress=flate", "--threads=1", i, o], (0, 3)),
          Tool("qpdf", lambda i, o: ["qpdf", "--object-streams=disable", "--recompress-flate",
                                      "--compress-streams=y", "--compression-level=6", i, o], (0, 3))]
    m, failed = measure(zl, src, out, runs)
    print(f"\ncompress (--compress=flate; qpdf --recompress-flate --compress-streams=y --compression-level=6): "
          f"{os.path.getsize(src) / MIB:.1f} MiB, {object_count(src)} objects")
    print(f"  {'tool':<8} {'wall':>11} {'CPU':>10} {'peak RSS':>13}")
    for t in zl:
        print(fmt_row(t.name, m[t.name], m["ours"]))
    for tool, code in failed.items():
        print(f"  ({tool} failed with exit status {code})")
    sizes = {}
    digests = {}
    for t in zl:
        subprocess.run(t.make_argv(src, out), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if os.path.exists(out):
            sizes[t.name], digests[t.name] = os.path.getsize(out), digest(out)
            os.unlink(out)
    same = "ours" in digests and digests.get("ours") == digests.get("ours-1")
    print("  output sizes: " + ", ".join(f"{k} {v / MIB:.1f} MiB" for k, v in sizes.items()) +
          f"; ours on all threads and on one byte-identical: {'yes' if same else 'NO'}")
    if not m.get("ours") or not m.get("qpdf"):
        return None
    return m["ours"], m["qpdf"], same


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--exe", required=True, help="pagewright-convert to time")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--big", action="store_true", help="also the file over 2 GiB (2.3 GB on disk)")
    ap.add_argument("--inputs", help="comma-separated subset of: objects-objstm, objects-classic, "
                    "objects-rc4, images, bigimage, huge, scaling, compress")
    ap.add_argument("--no-mutool", action="store_true")
    ap.add_argument("--no-check", action="store_true", help="skip qpdf --check of our outputs")
    ap.add_argument("--clean", action="store_true", help="delete the cache directory and stop")
    ap.add_argument("--make-only", action="store_true", help="make the inputs and stop")
    args = ap.parse_args()

    cache = os.environ.get("PW_BENCH_DIR", "/tmp/pw-bench")
    if args.clean:
        shutil.rmtree(cache, ignore_errors=True)
        return
    exe = os.path.abspath(args.exe)
    names = ["objects-objstm", "objects-classic", "objects-rc4", "images", "bigimage"]
    if args.big:
        names.append("huge")
    names += ["scaling", "compress"]
    if args.inputs:
        names = [n for n in args.inputs.split(",") if n]

    inputs = Inputs(cache)
    if args.make_only:
        for name in names:
            made = {"scaling": ["empty", "scale-2k", "scale-20k", "scale-200k"], "compress": ["rawimages"]}
            for n in made.get(name, [name]):
                inputs.make(n)
        return
    out = os.path.join(cache, "out.pdf")
    tool_list = tools(exe, not args.no_mutool)
    print(f"pagewright-convert {exe}; {args.runs} runs each, medians; cache {cache}")
    # Wall times mean little on a busy machine; the load says how busy it was.
    print(f"load average at start: {os.getloadavg()[0]:.2f} on {os.cpu_count()} CPUs")
    if not any(t.name == "mutool" for t in tool_list) and not args.no_mutool:
        print("(mutool not installed: skipped)")
    results = {}
    for name in names:
        if name in ("scaling", "compress"):
            continue
        src = inputs.make(name)
        size = os.path.getsize(src)
        m, failed = measure(tool_list, src, out, args.runs)
        results[name] = m
        print(f"\n{name}: {size / MIB:.1f} MiB, {object_count(src)} objects")
        print(f"  {'tool':<8} {'wall':>11} {'CPU':>10} {'peak RSS':>13}")
        for t in tool_list:
            print(fmt_row(t.name, m[t.name], m["ours"]))
        for tool, code in failed.items():
            print(f"  ({tool} failed with exit status {code})")
        if not args.no_check and m["ours"]:
            print(f"  our output: {check_output(exe, src, out)}")
        sys.stdout.flush()

    scaling = None
    if "scaling" in names:
        ours = [t for t in tool_list if t.name == "ours"]
        base, _ = measure(ours, inputs.make("empty"), out, max(args.runs, 9))
        base_wall, base_cpu = base["ours"][0], base["ours"][1]
        print(f"\nscaling (ours; start-up and an empty file: {base_wall * 1000:.1f} ms)")
        scaling = []
        for name in ("scale-2k", "scale-20k", "scale-200k"):
            src = inputs.make(name)
            n = object_count(src)
            # Small files take milliseconds: more runs keep the median steady.
            m, _ = measure(ours, src, out, max(args.runs, 9))
            wall, cpu, rss = m["ours"]
            per = (wall - base_wall) / n * 1e9
            scaling.append(per)
            # CPU time shows the same with less of the machine's other load in it.
            print(f"  {n:>7} objects: {wall * 1000:9.1f} ms, {rss / MIB:7.1f} MiB, "
                  f"{per:7.0f} ns per object beyond start-up ({(cpu - base_cpu) / n * 1e9:5.0f} ns CPU), "
                  f"{wall / n * 1e9:7.0f} ns per object in all")

    compress = None
    if "compress" in names:
        compress = measure_compression(exe, inputs.make("rawimages"), out, args.runs)

    print(f"\nload average at end: {os.getloadavg()[0]:.2f}")
    print("targets (wall time and peak RSS)")
    def verdict(ok):
        return "met" if ok else "MISSED"
    for name in ("objects-objstm", "objects-classic", "objects-rc4"):
        m = results.get(name)
        if not m or not m.get("ours") or not m.get("qpdf"):
            if m is not None:
                print(f"  {name}: not measured (a tool failed)")
            continue
        o, q = m["ours"], m["qpdf"]
        line = (f"  {name}: time {o[0] / q[0]:.2f}x qpdf (target <= 0.5) {verdict(o[0] <= 0.5 * q[0])}; "
                f"memory {o[2] / q[2]:.2f}x qpdf (target <= 0.25) {verdict(o[2] <= 0.25 * q[2])}")
        if m.get("mutool"):
            mu = m["mutool"]
            line += (f"; stretch vs mutool: time {o[0] / mu[0]:.2f}x, memory {o[2] / mu[2]:.2f}x "
                     f"{verdict(o[0] < mu[0] and o[2] < mu[2])}")
        print(line)
    for name, factor in (("images", 1.2), ("bigimage", 1.5), ("huge", 1.2)):
        m = results.get(name)
        if not m or not m.get("ours") or not m.get("cp"):
            continue
        o, c = m["ours"], m["cp"]
        line = f"  {name}: time {o[0] / c[0]:.2f}x cp (target <= {factor}) {verdict(o[0] <= factor * c[0])}"
        if name == "huge":
            line += f"; memory {o[2] / MIB:.1f} MiB (flat: compare with images)"
        else:
            line += f"; memory {o[2] / MIB:.1f} MiB (target <= 64) {verdict(o[2] <= 64 * MIB)}"
        print(line)
    for name in ("objects-objstm", "objects-classic", "objects-rc4", "images", "bigimage"):
        m = results.get(name)
        if not m or not m.get("ours") or not m.get("noverify"):
            continue
        o, n = m["ours"], m["noverify"]
        share = max(o[0] - n[0], 0) / o[0]
        line = f"  {name}: reading the output back takes {share * 100:.1f} % of the conversion's time"
        if name == "objects-classic":
            line += f" (target <= 33 %) {verdict(share <= 1 / 3)}"
        print(line + f"; peak memory {o[2] / n[2]:.2f}x without it")
    if compress:
        o, q, same = compress
        print(f"  compress: time {o[0] / q[0]:.2f}x qpdf --recompress-flate (target <= 0.5) "
              f"{verdict(o[0] <= 0.5 * q[0])}; output the same for 1 and {os.cpu_count()} threads: "
              f"{verdict(same)}")
    if scaling:
        spread = max(scaling) / min(scaling)
        print(f"  scaling: time per object varies {spread:.2f}x from 2,000 to 200,000 objects "
              f"(target <= 1.3) {verdict(spread <= 1.3)}")


if __name__ == "__main__":
    main()
