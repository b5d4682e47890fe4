#!/usr/bin/python3
"""Runs the conversions of `pagewright-convert --batch` on a Dask cluster.

Same inputs (files, folders searched for *.pdf, --list files), same output paths under
-o OUTDIR, same JSON-lines report and the same resumption: a file whose output a
finished run recorded, and which is still there at the recorded size, is not converted
again. Each file is one task; the worker runs the converter on it in a process of its
own, with the time and memory limits of --batch. The machines share a file system: the
inputs, OUTDIR and the converter must be at the same paths on every worker.

    pagewright-dask.py [--scheduler=tcp://HOST:8786] [--workers=N] [--converter=PATH]
        [--report=FILE] [--timeout=SECONDS] [--memory-limit=MIB] [--list=FILE]
        [conversion options] INPUT... -o OUTDIR

Without --scheduler a local cluster of N worker processes (default: the cores) runs them.
Exit status as --batch: 0, 3 when some had warnings, 2 when some failed, 1 wrong usage.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time

BATCH_OPTIONS = ("--scheduler=", "--workers=", "--converter=", "--report=", "--timeout=", "--memory-limit=",
                 "--list=")
REFUSED = ("--info", "--open-after-save", "--progress", "--page-info", "--batch", "--jobs=")


def usage(message):
    sys.stderr.write("pagewright-dask: %s\n\n%s" % (message, __doc__.split("\n\n")[2] + "\n"))
    return 1


def output_relative(given):
    path = os.path.normpath(given)
    if os.path.isabs(path) or path in (".", "..") or path.startswith(".." + os.sep):
        path = os.path.basename(path)
    # The converter's own rule: an output name not ending in .pdf gets it.
    return path if path.lower().endswith(".pdf") else path + ".pdf"


def collect(inputs, lists, outdir):
    """(input, relative output, size) for every file, in the order --batch takes them; a
    folder's walk never enters the output folder (a rerun would convert the outputs)."""
    items = []

    def add(name, relative):
        try:
            size = os.path.getsize(name)
        except OSError:
            size = 0
        items.append((name, relative, size))

    for listed in lists:
        with open(listed, encoding="utf-8", errors="surrogateescape") as f:
            for line in f:
                line = line.rstrip("\r\n")
                if line and not line.startswith("#"):
                    add(line, output_relative(line))
    for given in inputs:
        if os.path.isdir(given):
            found = []
            for root, dirs, files in os.walk(given):
                dirs[:] = [d for d in dirs if not os.path.samefile(os.path.join(root, d), outdir)]
                found.extend(os.path.join(root, n) for n in files if n.lower().endswith(".pdf"))
            for path in sorted(found):
                if os.path.isfile(path):
                    add(path, os.path.relpath(path, given))
        else:
            add(given, output_relative(given))
    return items


def done_outputs(report):
    """Relative outputs a finished run recorded as converted, with their sizes."""
    done = {}
    try:
        with open(report, encoding="utf-8") as f:
            for line in f:
                try:
                    record = json.loads(line)
                except ValueError:
                    continue
                if record.get("status") in (0, 3):
                    done[record["output_relative"]] = record["output_size"]
                else:
                    done.pop(record.get("output_relative"), None)
    except FileNotFoundError:
        pass
    return done


def convert(converter, args, source, output, relative, size, timeout, memory_mib):
    """One conversion, run on a worker; gives the report's record."""
    import resource

    os.makedirs(os.path.dirname(output) or ".", exist_ok=True)

    def limits():
        if memory_mib > 0:
            limit = memory_mib * (1 << 20) + size
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    started = time.monotonic()
    record = {"input": source, "output": output, "output_relative": relative}
    error = None
    try:
        done = subprocess.run([converter] + list(args) + [source, output], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout or None,
                              preexec_fn=limits)
        status = done.returncode
        lines = done.stderr.decode("utf-8", "replace").splitlines()
    except subprocess.TimeoutExpired:
        status, lines, error = 2, [], "stopped after %d s" % timeout
    except OSError as e:
        status, lines, error = 2, [], "could not start the conversion: %s" % e.strerror
    if status < 0:
        error = "the conversion ended with signal %d" % -status
        status = 2
    warnings = [l[len("pagewright-convert: warning: "):] for l in lines
                if l.startswith("pagewright-convert: warning: ")]
    messages = [l[len("pagewright-convert: "):] if l.startswith("pagewright-convert: ") else l
                for l in lines if l and not l.startswith("pagewright-convert: warning: ")]
    if error is None and status not in (0, 3):
        error = messages[-1] if messages else "the conversion ended with exit status %d" % status
    record["status"] = status
    if error:
        record["error"] = error
    record["warnings"] = warnings
    record["seconds"] = round(time.monotonic() - started, 3)
    record["input_size"] = size
    record["output_size"] = os.path.getsize(output) if status in (0, 3) and os.path.exists(output) else 0
    try:
        from dask.distributed import get_worker
        record["worker"] = get_worker().address
    except (ImportError, ValueError):
        record["worker"] = os.uname().nodename
    return record


def main(argv):
    scheduler = None
    workers = os.cpu_count() or 1
    converter = None
    report = None
    timeout = 600.0
    memory_mib = 2048
    lists, inputs, args = [], [], []
    outdir = None
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in ("-o", "--output-dir"):
            if i + 1 >= len(argv):
                return usage("-o needs the output folder")
            outdir = argv[i + 1]
            i += 2
            continue
        if a.startswith("--output-dir="):
            outdir = a.split("=", 1)[1]
        elif a.startswith(BATCH_OPTIONS):
            key, value = a.split("=", 1)
            try:
                if key == "--scheduler":
                    scheduler = value
                elif key == "--workers":
                    workers = int(value)
                    if workers < 1:
                        raise ValueError
                elif key == "--converter":
                    converter = value
                elif key == "--report":
                    report = value
                elif key == "--timeout":
                    timeout = float(value)
                elif key == "--memory-limit":
                    memory_mib = int(value)
                elif key == "--list":
                    lists.append(value)
            except ValueError:
                return usage("%s takes a number, not '%s'" % (key, value))
        elif a.startswith(REFUSED):
            return usage("%s does not go with a batch" % a.split("=", 1)[0])
        elif a.startswith("--"):
            args.append(a)
        else:
            inputs.append(a)
        i += 1
    if not outdir:
        return usage("the output folder is missing: -o OUTDIR")
    if not inputs and not lists:
        return usage("no input files, folders or --list")
    if converter is None:
        here = os.path.dirname(os.path.abspath(__file__))
        built = os.path.join(here, "..", "build", "cli", "pagewright-convert")
        converter = os.path.abspath(built) if os.path.exists(built) else shutil.which("pagewright-convert")
        if not converter:
            return usage("no converter found: give --converter=PATH")
    converter = os.path.abspath(converter)
    # The options every file gets are checked once here, not failed on every worker.
    # Exit status 1 is wrong usage only; a source that is not there fails later, with 2.
    missing = os.path.join("/nonexistent", "pagewright-option-check.pdf")
    check = subprocess.run([converter] + args + [missing, missing], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
    if check.returncode == 1:
        sys.stderr.write(check.stderr.decode("utf-8", "replace"))
        return 1

    outdir = os.path.abspath(outdir)
    os.makedirs(outdir, exist_ok=True)
    report = os.path.abspath(report or os.path.join(outdir, "pagewright-batch.jsonl"))
    items = collect(inputs, lists, outdir)
    done = done_outputs(report)
    seen = {}
    refused, todo, kept = [], [], 0
    for source, relative, size in items:
        if relative in seen:
            refused.append((source, relative, size, "not converted: %s writes the same output" % seen[relative]))
            continue
        seen[relative] = source
        output = os.path.join(outdir, relative)
        if relative in done and os.path.exists(output) and os.path.getsize(output) == done[relative]:
            kept += 1
        else:
            todo.append((source, relative, size))

    from dask.distributed import Client, LocalCluster, as_completed

    import contextlib

    failed = warned = converted = 0
    with contextlib.ExitStack() as stack:
        if scheduler is None:
            cluster = stack.enter_context(LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                                       host="127.0.0.1", dashboard_address=None))
            scheduler = cluster.scheduler_address
        client = stack.enter_context(Client(scheduler))
        out = stack.enter_context(open(report, "a", encoding="utf-8"))

        def write(record):
            # Bytes of a name that are no UTF-8 (lone surrogates here) as \\udcXX, as --batch writes them.
            line = re.sub("[\udc80-\udcff]", lambda m: "\\u%04x" % ord(m.group()), json.dumps(record, ensure_ascii=False))
            out.write(line + "\n")
            # Each line reaches the file at once: a batch killed now resumes from it.
            out.flush()

        for source, relative, size, why in refused:
            write({"input": source, "output": os.path.join(outdir, relative), "output_relative": relative,
                   "status": 2, "error": why, "warnings": [], "seconds": 0, "input_size": size, "output_size": 0})
            failed += 1
        futures = [client.submit(convert, converter, args, source, os.path.join(outdir, relative), relative, size,
                                 timeout, memory_mib, key="pagewright-%d-%s" % (n, relative), pure=False)
                   for n, (source, relative, size) in enumerate(todo)]
        for n, future in enumerate(as_completed(futures), 1):
            record = future.result()
            write(record)
            status = record["status"]
            if status == 3:
                warned += 1
            if status in (0, 3):
                converted += 1
            else:
                failed += 1
            sys.stderr.write("[%d/%d] exit %d %.2f s %s -> %s%s\n" % (
                n + kept + len(refused), len(items), status, record["seconds"], record["input"], record["output"],
                ": " + record["error"] if "error" in record else ""))
    sys.stderr.write("pagewright-dask: %d files: %d converted (%d with warnings), %d failed, %d kept from an "
                     "earlier run; report in %s\n" % (len(items), converted, warned, failed, kept, report))
    return 2 if failed else 3 if warned else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
