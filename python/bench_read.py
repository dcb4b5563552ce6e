#!/usr/bin/env python3
"""Times reading every body's position channel into NumPy against the
converter on the same cache.

    /usr/bin/python3 python/bench_read.py BUILD_DIR [--particles 10000000] [--runs 5] [--cache PATH]

Writes the cache with ztp-sample when it is missing (CORIX_PATH=share/corix),
then alternates the two, each in a fresh process: the module's read
(ztp.open, then particles["position"] of each particle body; the read alone
is timed inside the process as well) and `ztp2txscene cache out 0.1 24 1`.
Prints wall time and peak memory of each run and the medians.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

READ = r"""
import resource, sys, time
start = time.perf_counter()
import ztp
ztp.set_verbosity("QUIET")
with ztp.open(sys.argv[1]) as cache:
    opened = time.perf_counter()
    rows = 0
    for body in cache.bodies:
        if body.particles is not None and "position" in body.particles:
            rows += len(body.particles["position"])
    read = time.perf_counter()
print(rows, opened - start, read - opened)
"""


def run(command, env):
    """Wall seconds, peak resident MB and standard output of one process."""
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit("%s failed with %d" % (command[0], child.returncode))
    return time.perf_counter() - start, usage.ru_maxrss / 1024.0, out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("--particles", type=int, default=10_000_000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cache", help="the cache to read (default: big.ztp in the build folder)")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env = dict(os.environ, CORIX_PATH=os.path.join(root, "share", "corix"),
               PYTHONPATH=os.path.join(os.path.abspath(args.build), "python"))
    cache = args.cache or os.path.join(args.build, "big.ztp")
    if not os.path.exists(cache):
        subprocess.run([os.path.join(args.build, "ztp-sample"), cache, str(args.particles)], env=env, check=True)
    print("cache %s: %.0f MB" % (cache, os.path.getsize(cache) / 2**20))

    python, converter = [], []
    with tempfile.TemporaryDirectory() as scratch:
        output = os.path.join(scratch, "out.txscene")
        for k in range(args.runs):
            wall, rss, out = run([sys.executable, "-c", READ, cache], env)
            rows, opening, reading = out.split()
            python.append((wall, rss, float(reading)))
            print("python    run %d: %6.2f s wall (open %.2f s, positions of %s particles %.2f s), peak %6.0f MB"
                  % (k, wall, float(opening), rows, float(reading), rss))
            wall, rss, _ = run([os.path.join(args.build, "ztp2txscene"), cache, output, "p", "0.1", "24", "1"], env)
            converter.append((wall, rss))
            print("converter run %d: %6.2f s wall, peak %6.0f MB" % (k, wall, rss))
    print("median python:    %.2f s wall, %.2f s reading, peak %.0f MB"
          % (statistics.median(p[0] for p in python), statistics.median(p[2] for p in python),
             statistics.median(p[1] for p in python)))
    print("median converter: %.2f s wall, peak %.0f MB"
          % (statistics.median(c[0] for c in converter), statistics.median(c[1] for c in converter)))


if __name__ == "__main__":
    main()
