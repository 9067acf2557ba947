#!/usr/bin/env python3
"""orvalle-fit with project files: every fit of the project is fitted again
and reported; the numbers are checked against exact rational solutions of
the weighted least-squares equations computed here. Bad projects and
options that do not go with a project are refused with their reason.

usage: fitcli_project_test.py ORVALLE_FIT
"""
import json
import subprocess
import sys
import tempfile
from fractions import Fraction as Q
from pathlib import Path

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)
        print("FAIL:", what)


def run(prog, *args):
    p = subprocess.run([prog, *args], capture_output=True, text=True, timeout=60)
    return p.returncode, p.stdout, p.stderr


def solve(a, b):
    """Gaussian elimination over the rationals."""
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = next(r for r in range(c, n) if m[r][c] != 0)
        m[c], m[p] = m[p], m[c]
        for r in range(n):
            if r != c and m[r][c] != 0:
                f = m[r][c] / m[c][c]
                m[r] = [x - f * y for x, y in zip(m[r], m[c])]
    return [m[i][n] / m[i][i] for i in range(n)]


def line(x, y, e):
    """y = a x + b, weights 1/e^2: (a, b)."""
    w = [1 / (Q(v) ** 2) for v in e]
    sw = sum(w)
    swx = sum(wi * Q(xi) for wi, xi in zip(w, x))
    swy = sum(wi * Q(yi) for wi, yi in zip(w, y))
    swxx = sum(wi * Q(xi) ** 2 for wi, xi in zip(w, x))
    swxy = sum(wi * Q(xi) * Q(yi) for wi, xi, yi in zip(w, x, y))
    return solve([[swxx, swx], [swx, sw]], [swxy, swy])


def samegradient(sets):
    """lines y = m x + c_i sharing m: (m, c_1 ... c_K)."""
    k = len(sets)
    a = [[Q(0)] * (k + 1) for _ in range(k + 1)]
    b = [Q(0)] * (k + 1)
    for i, (x, y, e) in enumerate(sets):
        for xv, yv, ev in zip(x, y, e):
            w = 1 / Q(ev) ** 2
            xv, yv = Q(xv), Q(yv)
            a[0][0] += w * xv * xv
            a[0][i + 1] += w * xv
            a[i + 1][0] += w * xv
            a[i + 1][i + 1] += w
            b[0] += w * xv * yv
            b[i + 1] += w * yv
    return solve(a, b)


def close(got, want, what):
    want = float(want)
    check(abs(got - want) <= 1e-12 * max(1.0, abs(want)), f"{what}: {got!r} != {want!r}")


def main():
    prog = sys.argv[1]
    x = [0.5, 1.5, 2.25, 3.0, 4.75, 6.0]
    ya = [1021.5, 1043.0, 1061.25, 1075.5, 1112.0, 1139.75]
    ea = [0.5, 0.75, 0.5, 1.25, 0.5, 1.0]
    yb = [998.0, 1019.5, 1036.25, 1053.0, 1090.0, 1115.5]
    eb = [1.0, 0.5, 0.25, 0.75, 1.5, 0.5]
    ones = [1.0] * 10
    project = {
        "format": "orvalle-project", "version": 1,
        "source": {"file": "springs.txt", "caption": "springs", "layout": "tagged"},
        "columns": [],
        "datasets": [
            {"name": "Dataset a", "tag": "a", "x": x, "y": ya, "yerrors": ea,
             "colour": [0, 0, 0], "pointcolour": [0, 0, 0], "currentfit": 0},
            {"name": "Dataset \"b\"\nsecond", "tag": "b", "x": x, "y": yb, "yerrors": eb,
             "colour": [0, 0, 255], "pointcolour": [0, 0, 255], "currentfit": None}],
        "multifits": [{"kind": "samegradient", "name": "M", "solver": "cramer"}],
        "fits": [
            {"type": "linear", "name": "a line", "dataset": 0, "start": ones,
             "solver": "gauss", "colour": [0, 0, 0]},
            {"type": "linear", "name": "M-Dataset a", "dataset": 0, "start": ones, "solver": "gauss",
             "colour": [0, 0, 0], "multifit": 0, "line": 0},
            {"type": "linear", "name": "M-Dataset \"b\"\nsecond", "dataset": 1, "start": ones, "solver": "gauss",
             "colour": [0, 0, 0], "multifit": 0, "line": 1}],
        "chart": {"title": "Springs", "xtitle": " ", "ytitle": " ", "limits": [0, 7, 990, 1150],
                  "logx": False, "logy": False, "legend": False, "xgrid": True, "ygrid": True,
                  "band": "none", "titlefont": "", "axistitlefont": "", "titlefontsize": 0,
                  "labelfontsize": 0, "trackbar": 0}}
    with tempfile.TemporaryDirectory() as tmp:
        good = Path(tmp) / "springs.orvp"
        good.write_text(json.dumps(project, indent=1))
        # Any name: the content makes it a project.
        renamed = Path(tmp) / "springs.txt"
        renamed.write_text(json.dumps(project))

        rc, out, err = run(prog, "--json", str(good), str(renamed))
        check(rc == 0, f"--json exit {rc}: {err}")
        fits = json.loads(out)["fits"]
        check(len(fits) == 6, f"{len(fits)} fits reported, not 6")
        a, b = line(x, ya, ea)
        close(fits[0]["parameters"][0]["value"], a, "a line: a")
        close(fits[0]["parameters"][1]["value"], b, "a line: b")
        m, c1, c2 = samegradient([(x, ya, ea), (x, yb, eb)])
        close(fits[1]["parameters"][0]["value"], m, "M-a: shared gradient")
        close(fits[1]["parameters"][1]["value"], c1, "M-a: intercept")
        close(fits[2]["parameters"][0]["value"], m, "M-b: shared gradient")
        close(fits[2]["parameters"][1]["value"], c2, "M-b: intercept")
        check(fits[2]["dataset"] == "Dataset \"b\"\nsecond", "a name with quotes and a newline")
        check([f["name"] for f in fits[:3]] == ["a line", "M-Dataset a", "M-Dataset \"b\"\nsecond"],
              "names in order")
        check(fits[3]["parameters"] == fits[0]["parameters"], "the same project twice")

        # A line the user deleted is dropped after the joint fit: the kept
        # line keeps the joint numbers.
        one = json.loads(json.dumps(project))
        del one["fits"][2]
        (Path(tmp) / "one.orvp").write_text(json.dumps(one))
        rc, out, err = run(prog, "--json", str(Path(tmp) / "one.orvp"))
        fits = json.loads(out)["fits"]
        check(len(fits) == 2, "a deleted line stays deleted")
        close(fits[1]["parameters"][1]["value"], c1, "kept line: intercept of the joint fit")

        rc, out, err = run(prog, str(good))
        check(rc == 0 and out.startswith("a line\nChiSqu ="), f"text report: {out[:40]!r}")

        # Refusals: each with its reason and status.
        bad = json.loads(json.dumps(project))
        bad["fits"][0]["type"] = "quartic"
        (Path(tmp) / "bad.orvp").write_text(json.dumps(bad))
        newer = json.loads(json.dumps(project))
        newer["version"] = 2
        (Path(tmp) / "newer.orvp").write_text(json.dumps(newer))
        (Path(tmp) / "cut.orvp").write_text(json.dumps(project)[:300])
        cases = [
            (["bad.orvp"], 1, 'fits[0].type: "quartic" is not a trend type'),
            (["newer.orvp"], 1, "written by a newer Orvalle (project version 2"),
            (["cut.orvp"], 1, "not complete, well-formed JSON"),
            (["-m", "quadratic", "springs.orvp"], 2, "--model is for data files"),
            (["--x", "A", "--err", "C", "springs.orvp"], 2, "--x, --err are for data files"),
        ]
        for args, status, message in cases:
            rc, out, err = run(prog, *[str(Path(tmp) / a) if a.endswith(".orvp") else a
                                       for a in args])
            check(rc == status, f"{args}: exit {rc}, not {status}")
            check(message in err, f"{args}: {err!r} does not say {message!r}")
            check(out == "", f"{args}: printed {out!r}")
    if FAILURES:
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
