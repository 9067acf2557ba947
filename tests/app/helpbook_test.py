#!/usr/bin/env python3
"""Every option that `orvalle-fit --help` lists is explained somewhere in the
help book, so that a student who finds an option in the terminal finds it in
the book as well.

Usage: helpbook_test.py ORVALLE_FIT HELP_FOLDER
"""
import html
import pathlib
import re
import subprocess
import sys


def book_text(folder):
    text = []
    for page in sorted(pathlib.Path(folder).glob("*.html")):
        raw = page.read_text(encoding="utf-8")
        text.append(html.unescape(re.sub(r"<[^>]+>", " ", raw)))
    return "\n".join(text)


def main():
    program, folder = sys.argv[1], sys.argv[2]
    out = subprocess.run([program, "--help"], capture_output=True, text=True, check=True).stdout
    # Options are the words that start a line of the option list.
    options = sorted(set(re.findall(r"^\s+(?:-\w, )?(--[a-z][a-z-]*)", out, re.M)))
    if len(options) < 10:
        print(f"FAIL: found only {len(options)} options in --help: {options}")
        return 1
    text = book_text(folder)
    missing = [o for o in options if not re.search(re.escape(o) + r"(?![a-z-])", text)]
    if missing:
        print("FAIL: options of orvalle-fit --help that the help book never mentions: "
              + ", ".join(missing))
        return 1
    print(f"ok: {len(options)} options, every one in the help book")
    return 0


if __name__ == "__main__":
    sys.exit(main())
