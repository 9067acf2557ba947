#!/usr/bin/env python3
"""Runs two builds of orvalle-fit over one generated corpus and compares them.

    differential.py OLD NEW [--plugin LIB] [--data DIR] [-v]

Every case runs in a fresh folder of the same path for both programs, so
that absolute paths in the outputs agree. Compared are standard output,
standard error, the exit status and every file the case leaves behind.

JSON output is compared as parsed values: the newer program may write a
number in fewer digits (the same double) and adds the CSV's field names
beside the old keys (verdict_word, uncertainty_scale); nothing else may
differ. JSON that the older program wrote with bytes that are not UTF-8
is checked only for being valid JSON in the newer one. Command lines that
the older program refused and the newer one may take (abbreviated long
options, a value attached to a short option) are listed apart and only
have to succeed in the newer one.

Exit status: 0 when the two agree on every case, 1 otherwise.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(os.path.dirname(HERE), "data", "cli")
TABLES = os.path.join(os.path.dirname(HERE), "data", "tables")

# Keys the newer JSON may add beside the old ones.
ADDED_KEYS = {"verdict_word", "uncertainty_scale", "replaced"}

MODELS = ["linear-origin", "linear", "quadratic", "cubic", "power", "resonance",
          "periodic", "periodic-decay"] + ["poly:%d" % n for n in range(1, 11)]

GENERATED = {
    # name: text
    "lin10.txt": "".join("%g %.6g %.3g\n" % (x, 2.5 * x + 1 + 0.05 * (-1) ** x, 0.1 + 0.01 * x)
                         for x in range(1, 11)),
    "cos12.txt": "".join("%g %.12g 0.01\n" % (0.1 * k, 2 * __import__("math").cos(3.1 * 0.1 * k)
                                              + 0.003 * (-1) ** k) for k in range(1, 13)),
    "res.txt": "".join("%g %.10g 0.02\n" % (x, 5 / ((3 - x) ** 2 + 0.8) * (1 + 0.01 * (-1) ** k))
                       for k, x in enumerate([1, 1.5, 2, 2.5, 2.8, 3, 3.2, 3.5, 4, 4.5, 5])),
    "pow.txt": "".join("%g %.10g 0.05\n" % (x, 3 * x ** 1.5 * (1 + 0.01 * (-1) ** k))
                       for k, x in enumerate([1, 2, 3, 4, 5, 6, 7])),
    "two.txt": "1 2\n2 4.1\n3 5.9\n4 8.2\n",
    "five.txt": "1 2 0.1 7 0.2\n2 4.1 0.1 8 0.2\n3 5.9 0.1 9.5 0.3\n4 8.2 0.2 11 0.2\n5 9.9 0.1 13 0.2\n",
    "short.txt": "1 2 0.1\n2 4 0.1\n",
    "empty.txt": "",
    "comments.txt": "# nothing but comments\n# here\n",
    "text.txt": "this is not data\nat all\n",
    "zero.txt": "1 2 0.1\n2 4 0\n3 6 0.1\n4 8 0.1\n",
    "xerr.txt": "1 2 0.1 0.05\n2 4.1 0.1 0.05\n3 5.9 0.1 0.05\n4 8.2 0.2 0.05\n5 9.8 0.1 0.05\n",
    "tagged3.txt": "".join("%d %.3g 0.1 %s\n" % (x, m * x + c, t)
                           for t, m, c in (("a", 2, 1.05), ("b", 2.1, 0.95), ("c", 1.9, 1.0))
                           for x in range(1, 6)),
    "header.csv": "Time (s),Position (m),Error (m)\n0,0.1,0.01\n1,1.2,0.01\n2,3.9,0.02\n"
                  "3,9.1,0.02\n4,16.2,0.03\n",
    "semi.csv": "t;s\n0;0,1\n1;1,2\n2;3,9\n3;9,1\n4;16,2\n",
    "nan.txt": "1 2 0.1\n2 nan 0.1\n3 6 0.1\n",
    "big.txt": "".join("%g %.9g 0.5\n" % (x * 1e6, 3e-4 * x + 7e3) for x in range(1, 30)),
    "tiny.txt": "".join("%g %.9g 1e-12\n" % (x * 1e-9, 4e-10 * x + 2e-11 * (-1) ** x)
                        for x in range(1, 12)),
}

LATIN1_NAME = b"caf\xe9 r\xe9sultat.txt"


def build_corpus(folder, data):
    for name in os.listdir(data):
        shutil.copy(os.path.join(data, name), folder)
    if os.path.isdir(TABLES):
        for name in os.listdir(TABLES):
            shutil.copy(os.path.join(TABLES, name), folder)
    for name, text in GENERATED.items():
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)
    with open(os.path.join(folder.encode(), LATIN1_NAME), "w") as f:
        f.write(GENERATED["lin10.txt"])
    os.mkdir(os.path.join(folder, "adir"))


def cases(plugin):
    """(arguments, standard input, kind): kind is 'same' or 'newly'."""
    c = []
    add = lambda args, stdin=None: c.append((args, stdin, "same"))
    newly = lambda args, stdin=None: c.append((args, stdin, "newly"))
    data_for = {"linear-origin": "line3.txt", "linear": "lin10.txt", "quadratic": "poly3.txt",
                "cubic": "poly5.txt", "power": "pow.txt", "resonance": "res.txt",
                "periodic": "cos12.txt", "periodic-decay": "decay.txt"}
    outputs = [[], ["--json"], ["--csv"], ["--covariance"], ["--scale-errors"],
               ["--covariance", "--scale-errors", "--json"], ["--report", "text"],
               ["--report", "markdown"], ["--report", "latex"], ["--csv", "--scale-errors"]]
    est = {"periodic": ["-e", "2,3.1"], "periodic-decay": ["-e", "5,-0.5,3,0.1"]}
    for m in MODELS:
        f = data_for.get(m, "poly5.txt" if m not in ("poly:8", "poly:9", "poly:10") else "lin10.txt")
        for out in outputs:
            add(["-m", m] + est.get(m, []) + out + [f])
        add(["--model=" + m] + est.get(m, []) + ["short.txt"])
        add(["-m", m, "--residuals", "res.out", f])
        add(["-m", m, "--band", "band.out", f])
        add(["-m", m, "--gnuplot", "plot", f])
        for fit_file in ("big.txt", "tiny.txt", "text.txt", "zero.txt"):
            add(["-m", m, "--json", fit_file])
    # Periodic models without estimates, and with many.
    add(["-m", "periodic", "cos12.txt"])
    add(["-m", "periodic", "-e", "1,2,3,4,5,6", "cos12.txt"])
    add(["-m", "periodic", "-e", "x,2", "cos12.txt"])
    add(["-e", "", "line3.txt"])
    # Formulas.
    for ftxt, e in (("A*(1-exp(-x/B))", "200,500"), ("A*x+B", ""), ("A*x^2+B*x+C", "1,1,1"),
                    ("A*exp(-x/B)", "5,1"), ("A*(", ""), ("A+", ""), ("x", ""),
                    ("A*cos(B*x)", "2,3.1"), ("A*x+B", "1,2,3")):
        for out in ([], ["--json"], ["--csv"], ["--covariance"], ["--report", "latex"]):
            add(["-m", "formula:" + ftxt] + (["-e", e] if e else []) + out + ["charge.txt"])
        add(["-m", "formula:" + ftxt] + (["-e", e] if e else []) + ["decay.txt"])
    # Plug-in.
    add(["-m", "custom", "decay.txt"])
    add(["-m", "custom", "--csv", "decay.txt"])
    add(["-m", "custom", "--json", "line3.txt"])
    # Column choices.
    for extra in (["--x", "A", "--y", "B", "--err", "C"], ["--err", "percent:5"],
                  ["--err", "absolute:0.2"], ["--err", "percent:x"], ["--err", "absolute:"],
                  ["--err", "D"], ["--x", "Z"], ["--y", ""], ["--x", "col B"], ["--xerr", "D"],
                  ["--xerr", "percent:2"], ["--xerr", "absolute:0.05"], ["--xerr", "absolute:0"],
                  ["--err", "E", "--y", "D"], ["--x", "AA"], ["--err", ""]):
        for f in ("five.txt", "xerr.txt", "two.txt", "fourcol.txt", "header.csv"):
            add(extra + [f])
    add(["--x", "Time (s)", "--y", "Position (m)", "--err", "Error (m)", "-m", "quadratic",
         "header.csv"])
    add(["--x", "time", "--y", "position", "--err", "absolute:0.01", "header.csv"])
    add(["--x", "nothere", "header.csv"])
    add(["--err", "percent:1", "semi.csv"])
    for name in os.listdir(TABLES) if os.path.isdir(TABLES) else []:
        add(["--csv", name])
        add(["--err", "percent:2", name])
    # Tagged files.
    for f in ("tagged1.txt", "tagged2.txt", "tagged2pt.txt", "tagged3.txt", "sameintercept.txt"):
        for extra in ([], ["-d", "b"], ["-d", "Dataset b"], ["--dataset", "z"],
                      ["--multi", "same-intercept"], ["--multi", "same-gradient"],
                      ["--multi", "same-gradient", "--json"], ["--multi", "same-intercept", "--csv"],
                      ["--multi", "same-gradient", "--scale-errors", "--covariance"],
                      ["--multi", "same-gradient", "--gnuplot", "m.gnu"],
                      ["--multi", "same-gradient", "--band", "-"],
                      ["--multi", "same-gradient", "-m", "quadratic"],
                      ["--multi", "same-gradient", "-d", "a"], ["--x", "A"], ["--xerr", "C"],
                      ["-m", "quadratic", "-d", "a", "--json"]):
            add(extra + [f])
    # Every test file with the plain command, JSON and CSV.
    for f in sorted(os.listdir(DATA)):
        for out in ([], ["--json"], ["--csv"], ["-m", "quadratic"]):
            add(out + [f])
    # Several files.
    add(["line3.txt", "lin10.txt", "nodata.txt", "missing.txt"])
    add(["--json", "line3.txt", "lin10.txt", "nodata.txt", "missing.txt", "zero.txt"])
    add(["--csv", "line3.txt", "lin10.txt", "nodata.txt", "missing.txt", "short.txt"])
    add(["--csv", "missing.txt"])
    add(["--csv", "-m", "cubic", "missing.txt", "short.txt"])
    add(["--gnuplot", "g.gnu", "line3.txt", "lin10.txt"])
    add(["--residuals", "r.out", "line3.txt", "lin10.txt"])
    add(["--band", "b.out", "--band-level", "1sigma", "line3.txt", "lin10.txt"])
    add(["--band", "-", "--band-level", "95", "line3.txt"])
    add(["--band-level", "2", "line3.txt"])
    add(["--residuals", "-", "line3.txt"])
    add(["--residuals", "-", "--json", "line3.txt"])
    add(["--residuals", "-", "--band", "-", "line3.txt"])
    add(["--residuals", "", "line3.txt"])
    add(["--band", "", "line3.txt"])
    add(["--gnuplot", "", "line3.txt"])
    add(["--gnuplot", "x.gdt", "line3.txt"])
    add(["--gnuplot", "line3.txt", "line3.txt"])
    add(["--residuals", "line3.txt", "line3.txt"])
    add(["--residuals", "same.out", "--band", "same.out", "line3.txt"])
    add(["--residuals", "adir", "line3.txt"])
    add(["--band", "adir/none/x", "line3.txt"])
    # Standard input.
    add(["-"], GENERATED["lin10.txt"])
    add(["--json", "-"], GENERATED["lin10.txt"])
    add(["-m", "quadratic", "--err", "percent:2", "-"], GENERATED["two.txt"])
    add(["-"], "")
    add(["-", "line3.txt"], "garbage\n")
    # Solver, names, estimates.
    add(["--solver", "cramer", "poly5.txt"])
    add(["--solver", "gauss", "-m", "cubic", "poly5.txt"])
    add(["--solver", "lu", "poly5.txt"])
    add(["-n", "My fit", "line3.txt"])
    add(["--name", "", "--json", "line3.txt"])
    add(["--name=x,y", "--csv", "line3.txt"])
    add(["-n", "=1+1", "--csv", "line3.txt"])
    # Option errors.
    for bad in (["--bogus", "line3.txt"], ["-x", "line3.txt"], ["-m"], ["--model"],
                ["-m", "nothing", "line3.txt"], ["-m", "poly:0", "line3.txt"],
                ["-m", "poly:11", "line3.txt"], ["-m", "poly:", "line3.txt"],
                ["-m", "poly:3x", "line3.txt"], ["-m", "Linear", "line3.txt"],
                ["--json=yes", "line3.txt"], ["--csv=1", "line3.txt"], ["--help=1"],
                ["--version=2"], ["--covariance=1", "line3.txt"], ["--scale-errors=", "line3.txt"],
                ["--json", "--csv", "line3.txt"], ["--report", "html", "line3.txt"],
                ["--report", "text", "--json", "line3.txt"], ["--multi", "some", "tagged2.txt"],
                [], ["--json"], ["--", "--json"], ["--", "line3.txt"], ["line3.txt", "--"],
                ["-d"], ["-e"], ["-n"], ["--x"], ["--err"], ["--xerr"], ["--solver"],
                ["--multi"], ["--band"], ["--band-level"], ["--report"], ["--gnuplot"],
                ["--residuals"],
                ["-h"], ["--help"],
                ["--version"], ["-h", "--bogus"], ["--version", "nothere.txt"],
                ["--err", "percent:5", "--err", "C", "line3.txt"], ["", "line3.txt"],
                ["-5", "line3.txt"], ["-hx"], ["--multi=same-gradient", "tagged2.txt"],
                ["--estimates=2,3", "-m", "periodic", "cos12.txt"],
                ["-e", "1,2,3,4,5,6,7,8,9,10", "-m", "formula:A*x+B", "charge.txt"]):
        add(bad)
    # Files that cannot be used.
    for f in ("missing.txt", "adir", "empty.txt", "comments.txt", "text.txt", "nan.txt",
              "/dev/null", "onecolumn.txt", "ragged.txt", "badnumber.txt", "overflow.txt"):
        add([f])
        add(["--csv", f])
        add(["--json", f])
    # Names that are not UTF-8: the older program wrote them as they are.
    c.append((["--json", LATIN1_NAME], None, "latin1"))
    c.append((["--json", "missing-\xe9.txt".encode("latin-1")], None, "latin1"))
    add(["--csv", LATIN1_NAME])
    add([LATIN1_NAME])
    # What the newer program takes besides.
    newly(["-mquadratic", "poly5.txt"])
    newly(["--mod", "cubic", "poly5.txt"])
    newly(["--mod=cubic", "--js", "poly5.txt"])
    newly(["-mperiodic", "-e2,3.1", "cos12.txt"])
    newly(["--sc", "--cov", "line3.txt"])
    newly(["--band-l", "1sigma", "--band", "b.out", "line3.txt"])
    newly(["--band-", "1sigma", "line3.txt"])
    # An abbreviation that fits several options is refused as an unknown
    # option was, saying which it could be.
    c.append((["--s", "line3.txt"], None, "ambiguous"))
    c.append((["--e", "1", "line3.txt"], None, "ambiguous"))
    # A model name shorter than "poly:" made the older program fail inside
    # (status 1, "basic_string::substr"); it is an unknown model.
    for short in ("abc", "", "poly"):
        c.append((["-m", short, "line3.txt"], None, "mended"))
    newly(["-nMine", "-db", "tagged2.txt"])
    newly(["--rep", "text", "line3.txt"])
    return c


def run(program, args, stdin, folder, plugin):
    env = dict(os.environ)
    env.pop("ORVALLE_CUSTOMFIT", None)
    if plugin:
        env["ORVALLE_CUSTOMFIT"] = plugin
    argv = [program] + [a if isinstance(a, bytes) else a.encode() for a in args]
    p = subprocess.run(argv, input=(stdin or "").encode(), capture_output=True, cwd=folder, env=env,
                       timeout=120)
    files = {}
    for root, _, names in os.walk(folder):
        for n in names:
            path = os.path.join(root, n)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return p.returncode, p.stdout, p.stderr, files


def jsonclean(value):
    if isinstance(value, dict):
        return {k: jsonclean(v) for k, v in value.items() if k not in ADDED_KEYS}
    if isinstance(value, list):
        return [jsonclean(v) for v in value]
    return value


def samejson(old, new):
    try:
        a = json.loads(old.decode("utf-8"))
        b = json.loads(new.decode("utf-8"))
    except (ValueError, UnicodeDecodeError):
        return False
    return jsonclean(a) == jsonclean(b)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("--plugin", default="", help="libcustomfit.so for -m custom")
    ap.add_argument("--data", default=DATA)
    ap.add_argument("-v", "--verbose", action="store_true")
    a = ap.parse_args()
    old, new = os.path.abspath(a.old), os.path.abspath(a.new)
    plugin = os.path.abspath(a.plugin) if a.plugin else ""
    corpus = cases(plugin)
    base = tempfile.mkdtemp(prefix="orvalle-diff-")
    folder = os.path.join(base, "work")
    differ = 0
    counts = {"same": 0, "newly": 0, "latin1": 0, "ambiguous": 0, "mended": 0}
    try:
        for args, stdin, kind in corpus:
            results = []
            for program in (old, new):
                shutil.rmtree(folder, ignore_errors=True)
                os.mkdir(folder)
                build_corpus(folder, a.data)
                before = set()
                for root, _, names in os.walk(folder):
                    before |= {os.path.relpath(os.path.join(root, n), folder) for n in names}
                rc, out, err, files = run(program, args, stdin, folder, plugin)
                written = {k: v for k, v in files.items() if k not in before}
                results.append((rc, out, err, written))
            (orc, oout, oerr, ofiles), (nrc, nout, nerr, nfiles) = results
            counts[kind] += 1
            shown = " ".join(x.decode("latin-1") if isinstance(x, bytes) else x for x in args)
            problems = []
            if kind == "newly":
                if nrc != 0:
                    problems.append("newly accepted command line failed (%d): %s" %
                                    (nrc, nerr.decode(errors="replace")))
            elif kind == "mended":
                if nrc != 2 or nout or b"unknown model" not in nerr:
                    problems.append("a short model name is not refused as unknown: %d %s" %
                                    (nrc, nerr.decode(errors="replace")))
            elif kind == "ambiguous":
                if orc != nrc or nout or b"is ambiguous" not in nerr:
                    problems.append("an ambiguous option is not refused as such: %d %s" %
                                    (nrc, nerr.decode(errors="replace")))
            elif kind == "latin1":
                if orc != nrc or oerr != nerr:
                    problems.append("status or standard error differ")
                try:
                    if oout or nout:
                        json.loads(nout.decode("utf-8"))
                except (ValueError, UnicodeDecodeError) as e:
                    problems.append("new JSON is not valid UTF-8 JSON: %s" % e)
            else:
                if orc != nrc:
                    problems.append("exit status %d, now %d" % (orc, nrc))
                if oerr != nerr:
                    problems.append("standard error differs:\n--- old\n%s--- new\n%s" %
                                    (oerr.decode(errors="replace"), nerr.decode(errors="replace")))
                isjson = "--json" in args and not oout.startswith(b"==>")
                if oout != nout and not (isjson and samejson(oout, nout)):
                    problems.append("standard output differs:\n--- old\n%s--- new\n%s" %
                                    (oout.decode(errors="replace")[:3000],
                                     nout.decode(errors="replace")[:3000]))
                if ofiles.keys() != nfiles.keys():
                    problems.append("written files differ: %s vs %s" %
                                    (sorted(ofiles), sorted(nfiles)))
                else:
                    for k in ofiles:
                        if ofiles[k] != nfiles[k]:
                            problems.append("file %s differs" % k)
            if problems:
                differ += 1
                print("DIFFERS: orvalle-fit %s" % shown)
                for p in problems:
                    print("  " + p)
            elif a.verbose:
                print("same: orvalle-fit %s" % shown)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    total = sum(counts.values())
    print("%d cases (%d compared whole, %d with names that are not UTF-8, %d newly accepted, "
          "%d ambiguous abbreviations, %d mended): %d differ" %
          (total, counts["same"], counts["latin1"], counts["newly"], counts["ambiguous"],
           counts["mended"], differ))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
