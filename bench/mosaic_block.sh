#!/usr/bin/env bash
# The mosaic of a whole run with strong exposure differences: a generated sample block of 12
# images in two strips whose second strip is made a third brighter and every image 35 % darker
# towards its corners; ortavia-batch runs it into orthos and mosaic with the defaults and with
# balancing, seams and blending off, and the unchanged block with the defaults as the reference.
# The brightness steps across the Voronoi lines are then measured on mosaic / reference.
#   bench/mosaic_block.sh [WORK_DIR]     (default out/bench-mosaic; needs python3-gdal, numpy)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
batch=${ORTAVIA_BUILD_DIR:-$root/build}/ortavia-batch
work=${1:-$root/out/bench-mosaic}
py=/usr/bin/python3
mkdir -p "$work"
cd "$work"
if [ ! -f plain/bundle.bun ]; then
  rm -rf plain exposed
  "$batch" sample plain --images 12 --size 1200x900 >/dev/null
  cp -r plain exposed
  "$py" - <<'PY'
from osgeo import gdal
import numpy as np, glob, os
for p in sorted(glob.glob('exposed/images/*.tif')):
    k = int(os.path.basename(p)[4:7])
    ds = gdal.Open(p, gdal.GA_Update)
    a = ds.ReadAsArray().astype(float)
    h, w = a.shape[1:]
    y, x = np.mgrid[0:h, 0:w]
    fall = 1 - 0.35 * (((x - w / 2) / (w / 2)) ** 2 + ((y - h / 2) / (h / 2)) ** 2) / 2
    b = np.clip(np.round(a * fall * (4 / 3 if k >= 7 else 1.0)), 1, 255)
    b[a == 0] = 0
    for i in range(a.shape[0]):
        ds.GetRasterBand(i + 1).WriteArray(b[i].astype(np.uint8))
PY
fi
run() {  # folder project extra-options...
  local out=$1 project=$2
  shift 2
  rm -rf "$out"
  /usr/bin/time -f "$out: %e s wall, %U s user, %M KiB peak" "$batch" run --dem "$project/dem.tif" \
    --bundle "$project/bundle.bun" --gsd 0.25 --out "$out" --mosaic "$out/mosaic.tif" -q "$@"
}
run reference plain
run defaults exposed
run none exposed --balance none --blend none --seam-band 0
"$py" - <<'PY'
from osgeo import gdal
import numpy as np
ref = gdal.Open('reference/mosaic.tif').ReadAsArray().astype(np.float64)
vor = gdal.Open('reference/voronoi.tif').ReadAsArray().astype(np.int64)
code = vor[2] + 256 * vor[1] + 65536 * vor[0]
H, W = ref.shape[1:]
own = np.kron(code, np.ones((40, 40), np.int64))[:H, :W]
def box(a, k=9):
    c = np.cumsum(np.cumsum(np.pad(a, ((k // 2 + 1, k // 2), (k // 2 + 1, k // 2))), 0), 1)
    return (c[k:, k:] - c[:-k, k:] - c[k:, :-k] + c[:-k, :-k]) / (k * k)
print('| mosaic | near median | near p90 | far median | far p90 |')
print('|---|---|---|---|---|')
for name in ('none', 'defaults'):
    m = gdal.Open(name + '/mosaic.tif').ReadAsArray().astype(np.float64)
    ok = (m[3] > 0) & (ref[3] > 0) & (ref[:3].mean(0) > 20)
    r = np.where(ok, m[:3].mean(0) / np.maximum(ref[:3].mean(0), 1), 0)
    rm, okm = box(r), box(ok.astype(np.float64)) > 0.99
    near, far, d = [], [], 64
    for dy, dx in ((0, 1), (1, 0)):
        a, b = own[:H - dy, :W - dx], own[dy:, dx:]
        ys, xs = np.nonzero((a != b) & (a != 16777215) & (b != 16777215))
        keep = (ys > d) & (ys < H - d - 2) & (xs > d) & (xs < W - d - 2)
        ys, xs = ys[keep], xs[keep]
        p, q = (ys, xs), (ys + dy, xs + dx)
        fp, fq = (ys - d * dy, xs - d * dx), (ys + dy + d * dy, xs + dx + d * dx)
        g = ok[p] & ok[q]
        near.append(200 * np.abs(r[p] - r[q])[g] / (r[p] + r[q])[g])
        g = okm[fp] & okm[fq]
        far.append(200 * np.abs(rm[fp] - rm[fq])[g] / (rm[fp] + rm[fq])[g])
    near, far = np.concatenate(near), np.concatenate(far)
    print('| %s | %.2f %% | %.2f %% | %.2f %% | %.2f %% |' % (name, np.median(near),
          np.percentile(near, 90), np.median(far), np.percentile(far, 90)))
PY
