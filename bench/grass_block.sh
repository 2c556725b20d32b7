#!/usr/bin/env bash
# The six-image block orthorectified by GRASS GIS i.ortho.rectify and by ortavia-batch, timed in
# one paired run (bench/pair.sh: A B A B ..., medians and the median of the pair ratios).
#   bench/grass_block.sh [WORK_DIR]   (default out/bench-grass)
# Needs GRASS GIS 8 (`apt-get install grass-core`), gdal-bin and /usr/bin/time. Without grass it
# says so and exits with 2.
# Environment: BENCH_IMAGES (6), BENCH_SIZE (1500x1000), BENCH_DEM (600x450), BENCH_GSD (0.12),
# BENCH_RUNS (3: counted pairs), BENCH_METHOD (linear: GRASS's bilinear interpolation).
#
# GRASS is set up as its manual describes, without its interactive steps: a target location made
# from the DEM, an XY source location holding the images (one imagery group per image, the three
# bands in it), and for every group its target, elevation (i.ortho.target, i.ortho.elev), camera
# (i.ortho.camera: focal length, principal point at the origin of the photo coordinates, the four
# image corners as fiducials), the image-to-photo points the interactive step would write
# (REF_POINTS: the four corners), the initial exposure station from the orientation file used at
# run time (i.ortho.init -r), and CONTROL_POINTS: a 5 x 5 grid of image points per image at two
# heights, placed on the ground by the camera model of the sample project (docs/formats.md). Both
# tools write orthos at the same GSD over each image's own extent, with bilinear interpolation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORTAVIA_BUILD_DIR:-$root/build}
work=$(mkdir -p "${1:-$root/out/bench-grass}" && cd "${1:-$root/out/bench-grass}" && pwd)
images=${BENCH_IMAGES:-6} size=${BENCH_SIZE:-1500x1000} dem=${BENCH_DEM:-600x450}
gsd=${BENCH_GSD:-0.12} runs=${BENCH_RUNS:-3} method=${BENCH_METHOD:-linear}

command -v grass >/dev/null || {
  echo "grass_block: GRASS GIS is missing: apt-get install grass-core (Debian, Ubuntu)" >&2; exit 2; }
for tool in /usr/bin/time gdalinfo gdallocationinfo; do
  command -v "$tool" >/dev/null || { echo "grass_block: $tool is missing (apt-get install time gdal-bin)" >&2; exit 2; }
done
"$root/scripts/build" --target ortavia-batch >/dev/null
batch=$build/ortavia-batch

project=$work/project
if [ ! -f "$project/orientations.txt" ]; then
  "$batch" sample "$project" --images "$images" --size "$size" --bands 3 --dem-size "$dem" >/dev/null 2>&1
fi
export LC_ALL=C

# Passport values by key (case-insensitive, as the passport reader takes them).
key() { awk -F= -v k="$1" 'tolower($1) ~ "^ *" tolower(k) " *$" { gsub(/ /, "", $2); print $2 }' "$project/camera.bcc"; }
focal=$(key FocalLength) pixel=$(key PixelSize) width=$(key Width) height=$(key Height)
cx=$(key PrincipalPointX) cy=$(key PrincipalPointY)
# Mean height of the DEM: the control points lie 100 m below and above it.
zmean=$(gdalinfo -stats "$project/dem.tif" | awk -F= '/STATISTICS_MEAN/ { print $2; exit }')
rm -f "$project/dem.tif.aux.xml"

gdb=$work/grassdata
src=$gdb/source/PERMANENT
g() { grass "$1" --exec "${@:2}" >>"$work/grass.log" 2>&1 || { tail -20 "$work/grass.log" >&2; exit 1; }; }
if [ ! -f "$work/grass.ready" ]; then
  rm -rf "$gdb" "$work/grass.log" && mkdir -p "$gdb"
  grass -c "$project/dem.tif" -e "$gdb/target" >>"$work/grass.log" 2>&1
  grass -c XY -e "$gdb/source" >>"$work/grass.log" 2>&1
  g "$gdb/target/PERMANENT" r.in.gdal input="$project/dem.tif" output=dem
  # Photo coordinates (mm) of the image's four outer corners, pixel centres at 0 .. W - 1.
  corners() { awk -v w="$width" -v h="$height" -v cx="$cx" -v cy="$cy" -v p="$pixel" -v form="$1" 'BEGIN {
      split("-0.5 -0.5 " w - 0.5 " -0.5 " w - 0.5 " " h - 0.5 " -0.5 " h - 0.5, v, " ")
      for (i = 1; i < 8; i += 2) {
        x = (v[i] - cx) * p; y = (cy - v[i + 1]) * p
        if (form == "fid") printf "%s%.9f,%.9f", (i > 1 ? "," : ""), x, y
        else printf "%.6f %.6f %.9f %.9f 1\n", v[i] + 0.5, h - v[i + 1] - 0.5, x, y } }'; }
  fid=$(corners fid)
  while read -r name xc yc zc omega phi kappa; do
    [ -n "$name" ] || continue
    g "$src" r.in.gdal input="$project/images/$name.tif" output="$name"
    bands=$(grass "$src" --exec g.list raster pattern="$name.*" separator=comma 2>/dev/null)
    g "$src" i.group group="$name" input="$bands"
    g "$src" i.ortho.target group="$name" target_location=target mapset_location=PERMANENT
    g "$src" i.ortho.elev group="$name" location=target mapset=PERMANENT elevation=dem
    g "$src" i.ortho.camera group="$name" camera=ortavia name=sample id=ortavia clf="$focal" pp=0,0 fid="$fid"
    # Image coordinates of the XY location: east = column + 0.5, north = rows - row - 0.5.
    { printf '# Ground Control Points File\n#\n# target location: XY\n# target mapset: PERMANENT\n'
      printf '# source  target  status\n# east north east north (1=ok, 0=ignore)\n#%s\n' "$(printf -- '-%.0s' {1..61})"
      corners points; } \
      >"$src/group/$name/REF_POINTS"
    deg() { awk -v r="$1" 'BEGIN { printf "%.10f", r * 45 / atan2(1, 1) }'; }
    g "$src" i.ortho.init -r group="$name" xc="$xc" yc="$yc" zc="$zc" xc_sd=5 yc_sd=5 zc_sd=5 \
      omega="$(deg "$omega")" phi="$(deg "$phi")" kappa="$(deg "$kappa")" omega_sd=1 phi_sd=1 kappa_sd=1
    # The camera model: R = Rx(omega) Ry(phi) Rz(kappa) turns camera vectors (x right, y up, looking
    # along -z) into ground vectors; a pixel's ray meets the height z at C + t R (x_mm, y_mm, -F).
    awk -v w="$width" -v h="$height" -v cx="$cx" -v cy="$cy" -v p="$pixel" -v f="$focal" \
        -v X="$xc" -v Y="$yc" -v Z="$zc" -v o="$omega" -v ph="$phi" -v k="$kappa" -v zm="$zmean" 'BEGIN {
        co = cos(o); so = sin(o); cp = cos(ph); sp = sin(ph); ck = cos(k); sk = sin(k)
        r11 = cp * ck; r12 = -cp * sk; r13 = sp
        r21 = co * sk + so * sp * ck; r22 = co * ck - so * sp * sk; r23 = -so * cp
        r31 = so * sk - co * sp * ck; r32 = so * ck + co * sp * sk; r33 = co * cp
        print "# Ground Control Points File\n#\n# target location: target\n# target mapset: PERMANENT"
        print "#\tsource\t\t\ttarget\t\t\tstatus\n#\teast\tnorth\theight\teast\tnorth\theight\t(1=ok, 0=ignore)"
        print "#------------------------------     ----------------------    ---------------"
        for (i = 0; i < 5; ++i) for (j = 0; j < 5; ++j) for (s = -1; s <= 1; s += 2) {
          col = (w - 1) * (0.05 + 0.225 * j); row = (h - 1) * (0.05 + 0.225 * i)
          xm = (col - cx) * p; ym = (cy - row) * p
          dx = r11 * xm + r12 * ym - r13 * f; dy = r21 * xm + r22 * ym - r23 * f; dz = r31 * xm + r32 * ym - r33 * f
          z = zm + 100 * s; t = (z - Z) / dz
          printf "%.6f %.6f 0.0\t%.6f %.6f %.6f\t1\n", col + 0.5, h - row - 0.5, X + t * dx, Y + t * dy, z
        } }' >"$src/group/$name/CONTROL_POINTS"
  done <"$project/orientations.txt"
  touch "$work/grass.ready"
fi

groups=$(awk 'NF { printf "%s ", $1 }' "$project/orientations.txt")
# All six in one GRASS session, as a user would run them (a session costs about half a second).
cat >"$work/grass_groups.sh" <<SH
set -e
for group in $groups; do
  i.ortho.rectify -a group=\$group extension=.ortho resolution=$gsd method=$method --overwrite --quiet
done
SH
cat >"$work/grass_rectify.sh" <<SH
grass "$src" --exec bash "$work/grass_groups.sh"
SH
cat >"$work/ortavia.sh" <<SH
set -e
"$batch" run --dem "$project/dem.tif" --passport "$project/camera.bcc" --eo "$project/orientations.txt" \
  --image-dir "$project/images" --gsd $gsd -q --overwrite --out "$work/ortavia"
SH

echo "Project: $images images of $size RGB, DEM $dem, GSD $gsd; $(grass --version 2>&1 | awk '/^GRASS GIS/ { print $1, $2, $3; exit }'), method $method;"
echo "load average before the pairs: $(cut -d' ' -f1-3 /proc/loadavg)"
"$root/bench/pair.sh" "bash $work/ortavia.sh" "bash $work/grass_rectify.sh" "$runs"
echo "(A: ortavia-batch run, B: GRASS i.ortho.rectify of the $images groups; A/B at most 0.1 is the goal)"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
# What each wrote for the first image: the same ground at the same GSD.
first=${groups%% *}
grass "$gdb/target/PERMANENT" --exec r.info -g "$first.red.ortho" 2>/dev/null |
  awk -F= -v n="$first" '/^(north|south|east|west|rows|cols)=/ { v = v " " $0 } END { print "GRASS " n ":" v }'
gdalinfo "$work/ortavia/$first.tif" |
  awk -v n="$first" '/^Size is/ { gsub(",", ""); s = $3 "x" $4 } /^(Upper Left|Lower Right)/ { c = c " " $0 }
    END { print "ortavia " n ": " s c }'
