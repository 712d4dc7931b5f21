#!/usr/bin/env bash
# Regenerates the examples gallery: runs the built qbr on every example in a temporary
# directory, renders each EPS drawing to examples/gallery/<example>.png, and writes the
# inputs, the console results and, for the coaxial lines, the closed-form reference and
# the relative error into the marked blocks of examples/README.md. Then runs the Python
# examples (examples/python/*.py), which draw their own pictures into examples/gallery,
# and puts what each prints into its block.
#
#   scripts/make-gallery.sh          (BUILD_DIR defaults to build/)
#
# Every run ends with the program's five-second closing wait, so the program's part takes
# about forty seconds after the build, the Python examples about two minutes.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$root/build}"
gallery_md="$root/examples/README.md"
gallery_dir="$root/examples/gallery"
resolution=72 # the drawing is 500 points square: 500 x 500 pixels

examples=(coax_sc coax_copper microstrip_sc coupled_strips_sc trapezoid_strip_sc stripline_sc cpw_nb
  microstrip_fr4 coupled_microstrip_fr4 cpw_sc_silicon)

# The thin films of the strip examples are lost in the square window of the drawing; a
# second picture enlarges the region around the strips: page x, page y, width and
# height in PostScript points, and the zoom factor.
declare -A detail=(
  [microstrip_sc]="262 538 75 25 8"
  [coupled_strips_sc]="225 530 150 38 4"
  [trapezoid_strip_sc]="262 538 75 25 8"
  [stripline_sc]="225 512 150 76 4"
  [cpw_nb]="280 542 40 16 8"
  [cpw_sc_silicon]="280 542 40 16 8"
)

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  # A fresh clone: install what is missing and build everything once.
  BUILD_DIR="$BUILD_DIR" source "$root/scripts/setup.sh"
fi
cmake --build "$BUILD_DIR" --target qbr qbr-accuracy qbr_python_core -j "$(nproc)" >/dev/null
qbr="$BUILD_DIR/qbr"
accuracy="$BUILD_DIR/bench/qbr-accuracy"
command -v gs >/dev/null || { echo "make-gallery: ghostscript (gs) is needed" >&2; exit 1; }
command -v ngspice >/dev/null || { echo "make-gallery: ngspice is needed" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Each example in its own directory, because every run writes qbr.log where it runs.
# One after the other, so that the total time each prints is that of a run alone.
for name in "${examples[@]}"; do
  echo "make-gallery: running $name"
  mkdir "$work/$name"
  cp "$root/examples/$name.txt" "$work/$name/"
  cp "$root"/examples/*.dxc "$work/$name/"
  status=0
  (cd "$work/$name" && "$qbr" "$name.txt" >console.raw 2>&1) || status=$?
  echo "$status" >"$work/$name/status"
done

source "$root/scripts/replace-block.sh"

# Replaces the gallery block KEY of examples/README.md with the content of FILE.
gallery_block() {
  replace_block "<!-- gallery:$1 -->" "<!-- /gallery:$1 -->" "$2" "$gallery_md"
}

# The console as a terminal shows it: every spinner character is taken back by the
# backspace that follows it.
terminal_text() {
  perl -pe '1 while s/[^\x08\n]\x08//'
}

fenced() {
  printf '```%s\n' "$1"
  cat
  printf '```\n'
}

mkdir -p "$gallery_dir"
for name in "${examples[@]}"; do
  dir="$work/$name"
  status="$(cat "$dir/status")"
  if [ "$status" != 0 ]; then
    echo "make-gallery: $name ended with status $status:" >&2
    cat "$dir/console.raw" >&2
    exit 1
  fi

  fenced text <"$root/examples/$name.txt" >"$dir/input.md"
  gallery_block "$name:input" "$dir/input.md"

  # The console from the echo of the file name on; the banner is the same for all.
  sed -n '/^Input file: /,$p' "$dir/console.raw" | terminal_text | fenced text >"$dir/result.md"
  gallery_block "$name:result" "$dir/result.md"

  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -dEPSCrop -r"$resolution" \
    -dTextAlphaBits=4 -dGraphicsAlphaBits=4 \
    -sOutputFile="$gallery_dir/$name.png" "$dir/$name.txt.eps"
  if [ -n "${detail[$name]:-}" ]; then
    read -r x y width height zoom <<<"${detail[$name]}"
    # Lines and labels are thinned and shrunk by half the zoom, so that they stay
    # readable without covering the films.
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r72 -dFIXEDMEDIA \
      -g"$((width * zoom))x$((height * zoom))" -dTextAlphaBits=4 -dGraphicsAlphaBits=4 \
      -sOutputFile="$gallery_dir/$name-detail.png" \
      -c "1 setgray clippath fill 0 setgray $zoom $zoom scale -$x -$y translate" \
      -c "/setlinewidth { $zoom 2 div div systemdict /setlinewidth get exec } bind def" \
      -c "/scalefont { $zoom 2 div div systemdict /scalefont get exec } bind def" \
      -f "$dir/$name.txt.eps"
  fi
done

# The dxc file of the polyline example, quoted as it is.
fenced text <"$root/examples/trapezoid_strip.dxc" >"$work/dxc.md"
gallery_block "trapezoid_strip:dxc" "$work/dxc.md"

# Closed-form references of the two coaxial lines. The computed figures are those of the
# same input run once more in process by qbr-accuracy, with nine digits instead of the
# report's six.
value_of() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
sc_run="$(cd "$work/coax_sc" && "$accuracy" --run coax_sc.txt)"
sc_ref="$("$accuracy" --reference sc-coax 0.09 1 3 4)"
awk -v l="$(value_of L <<<"$sc_run")" -v rl="$(value_of L <<<"$sc_ref")" '
  function rel(a, b) { return a / b > 1 ? a / b - 1 : 1 - a / b }
  BEGIN {
    printf "| quantity | computed | closed form | relative error |\n|---|---|---|---|\n"
    printf "| L (pH/um) | %.9g | %.9g | %.1e |\n", l, rl, rel(l, rl)
  }' >"$work/sc_ref.md"
gallery_block "coax_sc:reference" "$work/sc_ref.md"

cu_run="$(cd "$work/coax_copper" && "$accuracy" --run coax_copper.txt)"
cu_ref="$("$accuracy" --reference nc-coax 58e6 0.5e-3 1.75e-3 2e-3 1e6)"
awk -v r="$(value_of R <<<"$cu_run")" -v l="$(value_of L <<<"$cu_run")" \
  -v rr="$(value_of R <<<"$cu_ref")" -v rl="$(value_of L <<<"$cu_ref")" '
  function rel(a, b) { return a / b > 1 ? a / b - 1 : 1 - a / b }
  BEGIN {
    printf "| quantity | computed | closed form | relative error |\n|---|---|---|---|\n"
    printf "| R (ohm/m times 1e6) | %.9g | %.9g | %.1e |\n", r, rr, rel(r, rr)
    printf "| L (pH/um) | %.9g | %.9g | %.1e |\n", l, rl, rel(l, rl)
  }' >"$work/cu_ref.md"
gallery_block "coax_copper:reference" "$work/cu_ref.md"

# The stripline's exported model in ngspice: a 1 V step with a 2 ps edge through Z0 into
# 1 cm of line, Z0 at the far end; the delay against length / velocity, and the input
# after the edge (a mismatch would move it off 0.5 V when the reflection returns).
sl="$work/stripline_sc"
(cd "$sl" && "$qbr" --no-wait --quiet --spice stripline.cir --length 1cm stripline_sc.txt >/dev/null)
z0="$(sed -n 's/^Z0 \[ohm\]:  //p' "$sl/console.raw")"
delay="$(sed -n 's/^Delay \[ps\/mm\]:  //p' "$sl/console.raw")"
cat >"$sl/step.cir" <<NETLIST
step into 1 cm of the stripline
.include stripline.cir
V1 s 0 PULSE(0 1 10p 2p 2p 1 2)
R1 s a $z0
X1 a 0 b 0 qbr_line
R2 b 0 $z0
.control
tran 0.01p 400p
meas tran ta WHEN v(a)=0.25 RISE=1
meas tran tb WHEN v(b)=0.25 RISE=1
meas tran low MIN v(a) FROM=20p
meas tran high MAX v(a) FROM=20p
.endc
.end
NETLIST
(cd "$sl" && ngspice -b step.cir >step.out 2>&1) || true
meas() { sed -n "s/^$1 *= *\([^ ]*\).*/\1/p" "$sl/step.out"; }
{
  fenced text <"$sl/stripline.cir"
  echo
  echo "| model | delay of 1 cm (ps) | length / velocity (ps) | input after the edge (V) |"
  echo "|---|---|---|---|"
  awk -v ta="$(meas ta)" -v tb="$(meas tb)" -v lo="$(meas low)" -v hi="$(meas high)" \
    -v d="$delay" 'BEGIN {
      printf "| qbr_line (ideal line) | %.2f | %.2f | %.4f to %.4f |\n", (tb - ta) * 1e12, d * 10, lo, hi
    }'
} >"$work/spice.md"
gallery_block "stripline_sc:spice" "$work/spice.md"

# The Python examples, with the package of this build and Debian's python3.
python_examples=(microstrip_width coax_frequency strip_current coupled_strips_map rough_microstrip
  nb_cpw_temperature fr4_width broadband_fr4)
for name in "${python_examples[@]}"; do
  echo "make-gallery: running examples/python/$name.py"
  PYTHONPATH="$BUILD_DIR/python" MPLBACKEND=Agg /usr/bin/python3 "$root/examples/python/$name.py" \
    --out "$gallery_dir" >"$work/$name.out"
  fenced text <"$work/$name.out" >"$work/$name.md"
  gallery_block "python:$name:output" "$work/$name.md"
done

echo "make-gallery: updated $gallery_md, the pictures of ${#examples[@]} examples and" \
  "${#python_examples[@]} Python examples in $gallery_dir"
