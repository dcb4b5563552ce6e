#!/usr/bin/env python3
"""Feeds the converter damaged copies of the shared ZTP samples.

    mutate_fixtures.py CONVERTER FIXTURE_CASES COUNT SEED

Each run truncates a sample or overwrites a few of its bytes (random values,
flipped bits, runs of 0x00/0x7F/0x80/0xFF that make counts and sizes absurd),
then converts it. The converter must end every run with exit code 0 or 1,
within the time limit and without a sanitizer report. Exit 77 (skipped) when
the samples are not there.
"""
import glob
import os
import random
import subprocess
import sys
import tempfile


def mutate(data, rng):
    mode = rng.randrange(4)
    if mode == 0 and len(data) > 24:
        return data[:rng.randrange(20, len(data))]
    for _ in range(rng.randrange(1, 8)):
        i = rng.randrange(20, len(data)) if len(data) > 20 else 0
        if mode == 1:
            data[i] = rng.randrange(256)
        elif mode == 2:
            data[i] ^= 1 << rng.randrange(8)
        else:
            v = rng.choice([0xFF, 0x7F, 0x80, 0x00])
            for k in range(4):
                if i + k < len(data):
                    data[i + k] = v
    return data


def main():
    converter, cases_dir, count, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    cases = sorted(glob.glob(os.path.join(cases_dir, '*.ztp')))
    if not cases:
        print('no samples in %s: skipped' % cases_dir)
        return 77
    rng = random.Random(seed)
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, CORIX_PATH=work)
        env.setdefault('ASAN_OPTIONS', 'allocator_may_return_null=1')
        path = os.path.join(work, 'in.ztp')
        for run in range(count):
            source = rng.choice(cases)
            with open(source, 'rb') as f:
                data = mutate(bytearray(f.read()), rng)
            with open(path, 'wb') as f:
                f.write(data)
            try:
                p = subprocess.run([converter, path, os.path.join(work, 'out.txscene'), 'p', '0.1', '24', '1'],
                                   env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
            except subprocess.TimeoutExpired:
                print('run %d (%s): no result after 60 s' % (run, os.path.basename(source)))
                failures += 1
                continue
            err = p.stderr.decode('latin-1')
            if p.returncode not in (0, 1) or 'Sanitizer' in err or 'runtime error' in err:
                failures += 1
                keep = os.path.join(tempfile.gettempdir(), 'mutated_%d_%d.ztp' % (seed, run))
                with open(keep, 'wb') as f:
                    f.write(data)
                print('run %d (%s): exit %d, kept as %s\n%s' % (run, os.path.basename(source), p.returncode,
                                                                keep, err[-2000:]))
    print('%d damaged files converted, %d failed' % (count, failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
