#!/usr/bin/env python3
"""The manual pages keep up with the programs: every option that
`PROGRAM --help` lists is described in the page's OPTIONS section, every
option the section describes is still in --help, and each page has the
sections a reader looks for.

Every ORVALLE_ variable the sources read (getenv, qgetenv,
qEnvironmentVariable...) is named in the ENVIRONMENT section of the page of
each program that reads it: the batch command's sources are app/fitcli* and
the Qt-free engine/ and datatext/; the windowed program reads those of
engine/, datatext/, frame/, plotter/ and app/main.cpp.

Usage: manpages_test.py SOURCE_DIR PROGRAM... (the page is
SOURCE_DIR/docs/NAME.1)
"""
import glob
import os
import re
import subprocess
import sys

REQUIRED_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS",
                     "ENVIRONMENT", "FILES", "REPORTING BUGS", "SEE ALSO"]

# An option at the start of a help line: "  -m, --model NAME" or "      --x COL".
HELP_OPTION_LINE = re.compile(r"^\s{1,8}(-[A-Za-z0-9](?:,\s*|\s)|--[A-Za-z])")
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9-]*)")


def plain(roff):
    """The text of a roff page without its font changes and escapes."""
    text = roff.replace("\\-", "-").replace("\\(em", "-")
    text = re.sub(r"\\f[BIRP]", "", text)
    text = re.sub(r"\\[ &]", " ", text)
    return text


def sections(roff):
    """Section name -> its text."""
    parts = {}
    name = None
    for line in roff.splitlines():
        m = re.match(r'^\.SH\s+"?([^"]*)"?\s*$', line)
        if m:
            name = m.group(1).strip()
            parts[name] = []
        elif name:
            parts[name].append(line)
    return {k: "\n".join(v) for k, v in parts.items()}


def help_options(program):
    out = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    if out.returncode != 0:
        raise SystemExit(f"{program} --help ended with status {out.returncode}")
    found = set()
    for line in out.stdout.splitlines():
        if HELP_OPTION_LINE.match(line):
            # Only the option names before the description column.
            head = re.split(r"\s{2,}", line.strip(), maxsplit=1)[0]
            found.update(OPTION.findall(head))
    if not found:
        raise SystemExit(f"{program} --help lists no options")
    return found


def described_options(options_section):
    """Options that head a tagged paragraph (.TP) of the OPTIONS section."""
    found = set()
    lines = options_section.splitlines()
    for i, line in enumerate(lines[:-1]):
        if line.startswith(".TP"):
            tag = plain(lines[i + 1])
            if re.match(r"^\.(B|BR|BI|IR|I)?\s*\"?-", tag):
                found.update(OPTION.findall(tag))
    return found


ENV_READ = re.compile(
    r"(?:getenv|qgetenv|qEnvironmentVariable\w*)\(\s*\"(ORVALLE_[A-Z0-9_]+)\"")

SOURCES = {
    "orvalle-fit": ["app/fitcli*.cpp", "app/orvalle_fit.cpp", "engine/*.cpp", "datatext/*.cpp"],
    "orvalle": ["app/main.cpp", "engine/*.cpp", "datatext/*.cpp", "frame/**/*.cpp",
                "plotter/**/*.cpp"],
}


def variables_read(root, name):
    found = {}
    for pattern in SOURCES.get(name, []):
        for path in glob.glob(os.path.join(root, pattern), recursive=True):
            with open(path, encoding="utf-8", errors="replace") as f:
                for var in ENV_READ.findall(f.read()):
                    found.setdefault(var, os.path.relpath(path, root))
    return found


def check(root, program):
    docs = os.path.join(root, "docs")
    name = os.path.basename(program)
    with open(os.path.join(docs, name + ".1"), encoding="utf-8") as f:
        roff = f.read()
    problems = []
    parts = sections(roff)
    for s in REQUIRED_SECTIONS:
        if s not in parts or not parts[s].strip():
            problems.append(f"{name}.1 has no section {s}")
    options_text = plain(parts.get("OPTIONS", ""))
    in_help = help_options(program)
    for option in sorted(in_help):
        if not re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", options_text):
            problems.append(f"{name}.1 does not describe {option} (listed by --help)")
    for option in sorted(described_options(parts.get("OPTIONS", "")) - in_help):
        problems.append(f"{name}.1 describes {option}, which --help does not list")
    environment = plain(parts.get("ENVIRONMENT", ""))
    read = variables_read(root, name)
    if not read:
        problems.append(f"no environment variable found in the sources of {name}: "
                        "is the source folder right?")
    for var, where in sorted(read.items()):
        if not re.search(r"\b" + var + r"\b", environment):
            problems.append(f"{name}.1 does not name {var} (read in {where}) under ENVIRONMENT")
    return problems


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    root = sys.argv[1]
    problems = []
    for program in sys.argv[2:]:
        problems += check(root, program)
    for p in problems:
        print("FAIL:", p)
    if problems:
        sys.exit(1)
    print("manual pages: ok")


if __name__ == "__main__":
    main()
