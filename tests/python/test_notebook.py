"""The lesson notebook runs at a small size in a Jupyter kernel (nbclient) and draws its figures
(under CTest into the build tree)."""
import os
import pathlib

import nbclient
import nbformat

from conftest import ROOT

NOTEBOOK = ROOT / "examples" / "notebooks" / "arm_dynamics_lesson.ipynb"
FIGURES = ["notebook_terms.png", "notebook_energy.png", "notebook_hold.png", "notebook_circle.png"]


def test_the_lesson_runs_small_and_draws(tmp_path):
    output = pathlib.Path(os.environ.get("VELMOTH_EXAMPLE_OUTPUT") or tmp_path)
    output.mkdir(parents=True, exist_ok=True)
    for name in FIGURES:
        (output / name).unlink(missing_ok=True)
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    parameters = notebook.cells[1]
    assert "parameters" in parameters.metadata.get("tags", [])
    parameters.source = f"SMALL = True\nOUT = {str(output)!r}"
    nbclient.NotebookClient(notebook, timeout=120, kernel_name="python3",
                            resources={"metadata": {"path": str(ROOT)}}).execute()
    printed = "".join(o.get("text", "") for cell in notebook.cells if cell.cell_type == "code"
                      for o in cell.outputs)
    for line in ["frames: ['base_link', 'base'", "True\n", "PD + G(q): largest joint error",
                 "largest distance from the reference"]:
        assert line in printed
    for name in FIGURES:
        assert (output / name).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
