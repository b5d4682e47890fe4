#!/usr/bin/python3
"""The Dask driver against a scheduler and two worker processes started here, on
127.0.0.1 only: every file converted once, spread over both workers, the report as
--batch writes it, and a second run that converts nothing.

Usage: test_dask.py CONVERTER CORPUS_DIR"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DRIVER = os.path.join(HERE, "..", "..", "scripts", "pagewright-dask.py")
CONVERTER, CORPUS = sys.argv[1], sys.argv[2]


class DaskBatch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pw-dask-")
        self.procs = []
        self.addCleanup(self.stop)
        scheduler_file = os.path.join(self.dir, "scheduler.json")
        self.start(["dask", "scheduler", "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                    "--scheduler-file", scheduler_file])
        for _ in range(300):
            if os.path.exists(scheduler_file):
                break
            time.sleep(0.1)
        with open(scheduler_file) as f:
            self.address = json.load(f)["address"]
        for n in range(2):
            self.start(["dask", "worker", self.address, "--host", "127.0.0.1", "--nworkers", "1", "--nthreads",
                        "1", "--no-dashboard", "--name", "w%d" % n, "--local-directory", self.dir])

    def start(self, command):
        self.procs.append(subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
        for p in self.procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_driver(self, *args):
        return subprocess.run([sys.executable, DRIVER, "--scheduler=" + self.address] + list(args),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=240)

    def test_files_convert_on_both_workers_and_resume(self):
        source = os.path.join(self.dir, "in")
        os.makedirs(os.path.join(source, "sub"))
        names = ["a%d.pdf" % i for i in range(5)] + ["sub/b.pdf"]
        for name in names:
            shutil.copy(os.path.join(CORPUS, "gen-objstm-disabled-classic-xref.pdf"), os.path.join(source, name))
        with open(os.path.join(source, "broken.pdf"), "w") as f:
            f.write("%PDF-1.4\nnothing else")
        # A converter that takes a moment, so the scheduler spreads the files.
        slow = os.path.join(self.dir, "slow.sh")
        with open(slow, "w") as f:
            f.write("#!/bin/sh\nsleep 0.5\nexec '%s' \"$@\"\n" % CONVERTER)
        os.chmod(slow, 0o755)
        out = os.path.join(self.dir, "out")

        first = self.run_driver("--converter=" + slow, "--pdf-version=1.4", source, "-o", out)
        self.assertEqual(first.returncode, 2, first.stderr.decode())
        with open(os.path.join(out, "pagewright-batch.jsonl")) as f:
            records = {r["output_relative"]: r for r in map(json.loads, f)}
        self.assertEqual(sorted(records), sorted(names + ["broken.pdf"]))
        self.assertEqual(records["broken.pdf"]["status"], 2)
        self.assertTrue(records["broken.pdf"]["error"])
        for name in names:
            record = records[name]
            self.assertEqual(record["status"], 0, record)
            path = os.path.join(out, name)
            self.assertEqual(record["output_size"], os.path.getsize(path))
            with open(path, "rb") as f:
                self.assertEqual(f.read(8), b"%PDF-1.4")
        self.assertEqual(subprocess.run(["qpdf", "--check", os.path.join(out, "sub/b.pdf")],
                                        stdout=subprocess.DEVNULL).returncode, 0)
        self.assertEqual(len({r["worker"] for r in records.values()}), 2)

        # Again: what is done stays; only the failed file is tried once more.
        os.remove(os.path.join(source, "broken.pdf"))
        second = self.run_driver("--converter=" + slow, "--pdf-version=1.4", source, "-o", out)
        self.assertEqual(second.returncode, 0, second.stderr.decode())
        self.assertIn(b"0 converted (0 with warnings), 0 failed, 6 kept", second.stderr)

    def test_wrong_usage_converts_nothing(self):
        out = os.path.join(self.dir, "out")
        run = self.run_driver("--converter=" + CONVERTER, "--pdf-version=9", CORPUS, "-o", out)
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"unknown PDF version '9'", run.stderr)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
