#!/usr/bin/env bash
# Makes every picture in docs/ anew from the current build: the window's (dialog_bench, on a
# virtual display of its own), the control rates' (velmoth-sim), the Python examples' at full size
# and the lesson notebook's. Build first (./dev.sh build, and the benchmarks: cmake --build --preset
# release --target dialog_bench).
#   tools/make_pictures.sh [BUILD]   BUILD: the build folder (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
docs=$PWD/docs
for program in "$build/bin/dialog_bench" "$build/python"; do
  [ -e "$program" ] || { echo "make_pictures.sh: $program is not built" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
screen=(xvfb-run -a -s "-screen 0 1800x1200x24")
bench() { "${screen[@]}" "$build/bin/dialog_bench" "$@" >/dev/null; }

# The window: the industrial arm come to rest against the upper limit of its second joint, which
# the strip names; the built-in arm falling beside its live plots; the PUMA 560, fitted.
bench --urdf examples/industrial6.urdf --seconds 3 --screenshot "$docs/velmoth.png"
bench --plots --seconds 12 --screenshot "$docs/plots.png"
bench --urdf examples/puma560.urdf --q0 '0.6, -0.3, 0.2' --settle 0 --seconds 0.05 --fit --picture "$work"
mv "$work"/velmoth-*.png "$docs/puma560.png"

# The tracking error of one trajectory at three control rates (velmoth-sim's runs).
/usr/bin/python3 tools/control_rates.py --sim "$build/bin/velmoth-sim" --out "$docs/control_rates.png" >/dev/null

# The Python examples and the lesson notebook, at full size.
export PYTHONPATH=$PWD/$build/python MPLBACKEND=Agg PYDEVD_DISABLE_FILE_VALIDATION=1
for example in control energy_drift sweep_dask; do
  /usr/bin/python3 "examples/python/$example.py" --out "$docs"
done
/usr/bin/python3 - "$docs" <<'EOF'
import pathlib
import sys

import nbclient
import nbformat

notebook = nbformat.read("examples/notebooks/arm_dynamics_lesson.ipynb", as_version=4)
notebook.cells[1].source = f"SMALL = False\nOUT = {sys.argv[1]!r}"
nbclient.NotebookClient(notebook, timeout=1200, kernel_name="python3",
                        resources={"metadata": {"path": str(pathlib.Path.cwd())}}).execute()
EOF
echo "make_pictures.sh: the pictures of $docs are made anew"
