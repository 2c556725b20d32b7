#!/usr/bin/env python3
"""Feeds mutated inputs through the command-line tools, as an operator's damaged files would
reach them: passports (`passport show`, `curve`, `import`), point files and bundles
(`footprints` on a small sample project), formulas (`ortavia-formula`).

usage: fuzz/cli_mutate.py BUILD_DIR SECONDS [WORK_DIR]

Seeds are the fuzz corpora plus the sample project's own files. A run that ends on a signal,
with an exit code outside 0..4, or after more than 5 s is a finding: its input is kept in
WORK_DIR/findings and the script exits 1. Copy the tools out of BUILD_DIR first if you rebuild
while it runs.
"""
import glob
import os
import random
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EXTENSIONS = ['.bcc', '.cvc', '.cvcc', '.rdr', '.BCC', '.ccb']
INTERESTING = [b'0', b'-1', b'1e308', b'nan', b'inf', b'-0', b'99999999999999999999',
               b'\xff\xfe', b'\xef\xbb\xbf', b'\x00', b'\n' * 5, b',,,', b'1.5', b'=', b'[', b']',
               b'2147483648', b'-2147483649', b'4294967295']
WORDS = [b'\xff\xff\xff\xff', b'\x00\x00\x00\x00', b'\x7f\xff\xff\xff', b'\x00\x00\x00\x80']


def mutate(data):
    d = bytearray(data)
    for _ in range(random.choice([1, 1, 1, 2, 3, 8])):
        op, n = random.randrange(6), len(d)
        if op == 0 and n:
            d[random.randrange(n)] = random.randrange(256)
        elif op == 1 and n:
            i = random.randrange(n)
            del d[i:i + random.randint(1, 16)]
        elif op == 2:
            i = random.randint(0, n)
            d[i:i] = random.choice(INTERESTING)
        elif op == 3 and n:
            i = random.randrange(n)
            k = random.randint(0, n)
            d[k:k] = d[i:min(n, i + random.randint(1, 64))]
        elif op == 4 and n > 4:
            i = random.randrange(n - 4)
            d[i:i + 4] = random.choice(WORDS)
        elif op == 5 and n:
            i = random.randrange(n)
            d[i:i + 1] = random.choice(INTERESTING)
    return bytes(d)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    build, seconds = sys.argv[1], float(sys.argv[2])
    work = sys.argv[3] if len(sys.argv) > 3 else '/tmp/ortavia-cli-mutate'
    batch, formula = os.path.join(build, 'ortavia-batch'), os.path.join(build, 'ortavia-formula')
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work + '/findings')
    env = dict(os.environ, HOME=work + '/home', XDG_DATA_HOME=work + '/data',
               XDG_CONFIG_HOME=work + '/config', XDG_CACHE_HOME=work + '/cache')
    project = work + '/p'
    subprocess.run([batch, 'sample', project, '--images', '2', '--size', '240x180', '--dem-size',
                    '60'], env=env, check=True, capture_output=True)
    seeds = {k: [open(f, 'rb').read() for f in glob.glob(f'{HERE}/corpus/{k}/*')]
             for k in ['passport', 'point_file', 'bundle', 'formula']}
    # The corpora's leading option bytes, then the project's own file, as often as the corpus.
    for kind, name, lead in [('passport', 'camera.bcc', b'\x00'),
                             ('point_file', 'orientations.txt', b'\x00\x00'),
                             ('bundle', 'bundle.bun', b'')]:
        seeds[kind] += [lead + open(f'{project}/{name}', 'rb').read()] * len(seeds[kind])

    def run(args, stdin=None):
        start = time.time()
        try:
            r = subprocess.run(args, env=env, input=stdin, capture_output=True, timeout=20)
        except subprocess.TimeoutExpired:
            return 'hang', time.time() - start
        return r.returncode, time.time() - start

    codes, findings, n = {}, 0, 0
    deadline = time.time() + seconds
    while time.time() < deadline:
        n += 1
        kind = random.choice(list(seeds))
        data = mutate(random.choice(seeds[kind]))
        if kind == 'passport':
            path = work + '/m' + (EXTENSIONS[data[0] % len(EXTENSIONS)] if data else '.bcc')
            open(path, 'wb').write(data[1:])
            runs = [run([batch, 'passport', 'show', path]),
                    run([batch, 'passport', 'curve', 'radial', path])]
            if random.random() < 0.2:
                runs.append(run([batch, 'passport', 'import', path, '--overwrite']))
        elif kind == 'point_file':
            path = work + '/m.txt'
            open(path, 'wb').write(data[2:])
            runs = [run([batch, 'footprints', '--dem', project + '/dem.tif', '--passport',
                         project + '/camera.bcc', '--eo', path, '--image-dir', project + '/images',
                         '--geojson', work + '/f.geojson'])]
        elif kind == 'bundle':
            path = project + '/m.bun'  # beside the images it names
            open(path, 'wb').write(data)
            runs = [run([batch, 'footprints', '--dem', project + '/dem.tif', '--bundle', path,
                         '--geojson', work + '/f.geojson'])]
        else:
            runs = [run([formula, '--var', 'x=1.5'], data[1:] + b'\n')]
        for code, secs in runs:
            codes.setdefault(kind, {}).setdefault(code, 0)
            codes[kind][code] += 1
            if code == 'hang' or not 0 <= code <= 4 or secs > 5:
                findings += 1
                keep = f'{work}/findings/{kind}-{n}'
                open(keep, 'wb').write(data)
                print(f'finding: {kind} exit {code} after {secs:.1f} s, input {keep}', flush=True)
    print(f'{n} inputs; exit codes per reader: {codes}; findings: {findings}')
    sys.exit(1 if findings else 0)


if __name__ == '__main__':
    main()
