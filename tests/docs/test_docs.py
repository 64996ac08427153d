"""The README and the reference pages: every command of the README runs as it is written there,
every link of the README and of docs/ resolves (files and headings), the help the pages show is
what the programs print, and the Python page names every public name of the module.

VELMOTH, VELMOTH_SIM and PYTHONPATH name the build's programs and module; the window needs a
display (the test suite's virtual one)."""
import os
import pathlib
import re
import shlex
import signal
import subprocess
import sys
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"
PAGES = [README, *sorted((ROOT / "docs").glob("*.md"))]
VELMOTH = os.environ.get("VELMOTH", str(ROOT / "build/release/bin/velmoth"))
VELMOTH_SIM = os.environ.get("VELMOTH_SIM", str(ROOT / "build/release/bin/velmoth-sim"))
FENCE = re.compile(r"^```(\w*)\n(.*?)^```\n", re.M | re.S)


def blocks(path):
    """The fenced blocks of a page: (language, text), in order."""
    return [(m.group(1), m.group(2)) for m in FENCE.finditer(path.read_text())]


def commands(text):
    """The command lines of a shell block, without their comments."""
    lines = []
    for line in text.splitlines():
        line = line.split(" # ")[0].rstrip() if not line.startswith("#") else ""
        if line:
            lines.append(line)
    return lines


def readme_commands():
    found = []
    shown = blocks(README)
    for i, (language, text) in enumerate(shown):
        if language == "sh":
            after = shown[i + 1] if i + 1 < len(shown) and shown[i + 1][0] == "" else None
            found += [(line, after[1] if after else None) for line in commands(text)]
    return found


def dev_sh_commands():
    return set(re.findall(r"^  (\w+)\)$", (ROOT / "dev.sh").read_text(), re.M))


def run_window(arguments, tmp_path):
    """Starts the window with the arguments, recording from the start; it must run (rows reach the
    recording) and end with status 0 on SIGTERM, as the close button ends it."""
    record = tmp_path / "run.csv"
    if "--record" in arguments:
        at = arguments.index("--record")
        arguments = arguments[:at] + arguments[at + 2:]
    window = subprocess.Popen([VELMOTH, *arguments, "--record", str(record)], cwd=ROOT,
                              stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 120  # a guard against a hang, not a measure of time
        while (not record.exists() or record.read_text().count("\n") < 3) and \
                window.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        assert window.poll() is None, window.stderr.read()
        assert record.read_text().count("\n") >= 3
        window.send_signal(signal.SIGTERM)
        _, err = window.communicate(timeout=120)
    finally:
        window.kill()
    assert window.returncode == 0, err


@pytest.mark.parametrize("line,output", readme_commands(), ids=lambda x: x if isinstance(x, str)
                         and "\n" not in x else "")
def test_every_command_of_the_readme_runs(line, output, tmp_path):
    environment = dict(os.environ)
    for part in line.split(" && "):
        words = shlex.split(part)
        if words[:2] == ["xvfb-run", "-a"]:  # the suite's display stands in for a virtual one
            words = words[2:]
            if words[0] == "timeout":
                words = words[1 + words.index(next(w for w in words[1:] if w[0] != "-")):]
        if words[0] == "export":
            name, value = words[1].split("=", 1)
            value = value.replace("$PWD", str(ROOT))
            # The README's path is the build's own where the suite runs the build in its place.
            if pathlib.Path(environment.get("PYTHONPATH", "")).resolve() == \
                    (ROOT / "build/release/python").resolve():
                assert pathlib.Path(value).resolve() == (ROOT / "build/release/python").resolve()
            continue
        if words[0] == "./dev.sh":
            assert words[1] in dev_sh_commands(), part
            if words[1] == "run":
                run_window(words[2:], tmp_path)
            continue
        if words[0] == "velmoth-sim":
            done = subprocess.run([VELMOTH_SIM, *words[1:]], cwd=ROOT, capture_output=True,
                                  text=True, timeout=120)
            assert done.returncode == 0, done.stderr
            if output is not None:
                assert done.stdout == output
            continue
        pytest.fail(f"a command the test does not know how to run: {part}")


@pytest.mark.parametrize("page", [README, ROOT / "docs" / "python.md"], ids=lambda p: p.name)
def test_the_python_blocks_run(page, tmp_path):
    for language, text in blocks(page):
        if language == "python":
            done = subprocess.run([sys.executable, "-c", text], cwd=ROOT, capture_output=True,
                                  text=True, timeout=240)
            assert done.returncode == 0, done.stderr


def slug(heading):
    """The anchor of a heading, as GitHub makes it."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower().replace("`", ""))
    return text.replace(" ", "-")


def anchors(path):
    seen, found = {}, set()
    text = FENCE.sub("", path.read_text())
    for heading in re.findall(r"^#+ (.*)$", text, re.M):
        base = slug(heading)
        n = seen.get(base, 0)
        seen[base] = n + 1
        found.add(base if n == 0 else f"{base}-{n}")
    return found


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.name)
def test_every_link_resolves(page):
    text = FENCE.sub("", page.read_text())
    links = re.findall(r"\]\(([^)\s]+)\)", text)
    assert links or page != README
    for link in links:
        if re.match(r"^[a-z]+:", link):
            continue
        target, _, anchor = link.partition("#")
        file = (page.parent / target).resolve() if target else page
        assert file.exists(), f"{page.name}: {link}"
        if anchor:
            assert anchor in anchors(file), f"{page.name}: {link}"


@pytest.mark.parametrize("program,page", [(VELMOTH, "window.md"), (VELMOTH_SIM, "velmoth-sim.md")],
                         ids=["velmoth", "velmoth-sim"])
def test_the_pages_help_is_the_programs(program, page):
    text = (ROOT / "docs" / page).read_text()
    name = pathlib.Path(program).name
    shown = re.search(rf"^<!-- {re.escape(name)} --help: written by tools/write_help\.py.*-->\n"
                      r"```\n(.*?)^```\n", text, re.M | re.S)
    assert shown, f"{page} has no block of {name} --help (tools/write_help.py writes it)"
    done = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0
    assert shown.group(1) == done.stdout, "run tools/write_help.py"


def test_the_python_page_names_every_public_name():
    import velmoth
    text = (ROOT / "docs" / "python.md").read_text()
    named = set(re.findall(r"`([^`]*)`", text))
    words = set(re.findall(r"[A-Za-z_]\w*", " ".join(named)))
    missing = [name for name in dir(velmoth) if not name.startswith("_") and name not in words]
    for cls in (velmoth.Robot, velmoth.Simulation, velmoth.Trajectory, velmoth.Terms,
                velmoth.Kinematics):
        missing += [f"{cls.__name__}.{name}" for name in dir(cls)
                    if not name.startswith("_") and name not in words]
    assert not missing
