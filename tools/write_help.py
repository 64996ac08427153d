#!/usr/bin/python3
"""Writes the programs' help into the reference pages: the block after each marker line
"<!-- PROGRAM --help: written by tools/write_help.py ... -->" becomes what PROGRAM --help prints.
tests/docs checks that the pages and the programs agree.

    tools/write_help.py [BUILD]    BUILD: the build folder (default build/release)
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
PAGES = {"velmoth": ROOT / "docs" / "window.md", "velmoth-sim": ROOT / "docs" / "velmoth-sim.md"}
MARKER = re.compile(r"^<!-- (\S+) --help: written by tools/write_help\.py.*-->\n```\n.*?^```\n",
                    re.M | re.S)


def help_text(program, build):
    done = subprocess.run([str(build / "bin" / program), "--help"], capture_output=True,
                          text=True, check=True)
    return done.stdout


def write(text, program, helped):
    """The page's text with the block after program's marker holding helped."""
    def block(match):
        if match.group(1) != program:
            return match.group(0)
        return match.group(0).split("\n", 1)[0] + "\n```\n" + helped + "```\n"
    return MARKER.sub(block, text)


def main():
    build = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "release"
    for program, page in PAGES.items():
        text = page.read_text()
        page.write_text(write(text, program, help_text(program, build)))
        print(f"write_help.py: {page.relative_to(ROOT)} has {program} --help")


if __name__ == "__main__":
    main()
