#!/usr/bin/env python3
"""orvalle-fit's covariance, p-value, scaled uncertainties, residuals and CSV
table, checked against numpy and scipy computed here from the same data.

Usage: fitcli_reference_test.py PATH-TO-orvalle-fit DATA-FOLDER
"""
import csv
import io
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from scipy.optimize import curve_fit
from scipy.stats import chi2

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "orvalle-fit"
DATA = sys.argv[2] if len(sys.argv) > 2 else "."

# A weighted straight line and a quadratic with unequal errors (made once
# from fixed numbers, so that every run sees the same file).
LINE = [(0.5, 1.62, 0.10), (1.0, 2.71, 0.12), (1.5, 3.55, 0.08), (2.0, 4.81, 0.20),
        (2.5, 5.62, 0.15), (3.0, 6.93, 0.10), (3.5, 7.71, 0.25), (4.0, 9.02, 0.10)]
QUAD = [(x, 0.8 * x * x - 2.1 * x + 3.0 + d, e) for x, d, e in
        [(-2, 0.05, 0.2), (-1, -0.11, 0.1), (0, 0.02, 0.3), (1, 0.13, 0.1), (2, -0.04, 0.2),
         (3, 0.09, 0.2), (4, -0.16, 0.4), (5, 0.07, 0.3), (6, -0.02, 0.5)]]
# Three datasets for the multi fits: x, y, error, tag.
TAGGED = [(0, 1.1, 0.1, "a"), (1, 3.0, 0.1, "a"), (2, 4.9, 0.2, "a"), (3, 7.2, 0.2, "a"),
          (0, 2.8, 0.2, "b"), (1, 5.1, 0.1, "b"), (2, 6.8, 0.1, "b"),
          (1, 0.4, 0.3, "c"), (2, 2.7, 0.1, "c"), (3, 4.4, 0.2, "c"), (4, 6.7, 0.2, "c"),
          (5, 8.3, 0.3, "c")]


def run(*args):
    """The program's status and output, line ends as written."""
    r = subprocess.run([PROGRAM, *args], capture_output=True, check=False)
    return subprocess.CompletedProcess(r.args, r.returncode, r.stdout.decode(), r.stderr.decode())


def fitjson(*args):
    r = run("--json", *args)
    if r.returncode != 0:
        raise AssertionError(f"status {r.returncode}: {r.stderr}")
    return json.loads(r.stdout)["fits"]


def columns(points):
    return tuple(np.array(c, dtype=float) for c in zip(*points))


def weightedcov(design, e):
    """(A^T W A)^-1 with W = 1/e^2: the unscaled covariance."""
    a = design / e[:, None]
    return np.linalg.inv(a.T @ a)


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvalle-fit-ref-")
        self.addCleanup(shutil.rmtree, self.dir)

    def write(self, name, rows):
        path = os.path.join(self.dir, name)
        with open(path, "w") as f:
            for r in rows:
                f.write(" ".join(str(v) for v in r) + "\n")
        return path

    def assertMatrix(self, got, want, rtol, atol=0.0):
        got = np.array(got, dtype=float)
        self.assertEqual(got.shape, want.shape)
        np.testing.assert_allclose(got, want, rtol=rtol, atol=atol)


class Covariance(Folder):
    def check(self, f, cov):
        got = np.array(f["covariance"], dtype=float)
        np.testing.assert_array_equal(got, got.T)
        # Entries that are 0 in truth come out as rounding errors.
        self.assertMatrix(f["covariance"], cov, rtol=1e-9, atol=1e-12 * np.max(np.abs(cov)))
        sd = np.sqrt(np.diag(cov))
        self.assertMatrix(f["correlation"], cov / np.outer(sd, sd), rtol=1e-9, atol=1e-11)
        self.assertMatrix([p["uncertainty"] for p in f["parameters"]], sd, rtol=1e-9)

    def test_weighted_line(self):
        x, y, e = columns(LINE)
        (f,) = fitjson(self.write("line.txt", LINE))
        p, cov = np.polyfit(x, y, 1, w=1 / e, cov="unscaled")
        self.assertMatrix([q["value"] for q in f["parameters"]], p, rtol=1e-10)
        self.check(f, cov)
        self.assertFalse(f["scaled"])
        self.assertIsNone(f["scale"])

    def test_quadratic_with_both_solvers(self):
        x, y, e = columns(QUAD)
        path = self.write("quad.txt", QUAD)
        p, cov = np.polyfit(x, y, 2, w=1 / e, cov="unscaled")
        for solver in ("gauss", "cramer"):
            with self.subTest(solver=solver):
                (f,) = fitjson("-m", "quadratic", "--solver", solver, path)
                self.assertMatrix([q["value"] for q in f["parameters"]], p, rtol=1e-9)
                self.check(f, cov)

    def test_line_through_the_origin(self):
        x, y, e = columns(LINE)
        (f,) = fitjson("-m", "linear-origin", self.write("line.txt", LINE))
        self.check(f, np.array([[1 / np.sum(x * x / e**2)]]))

    def test_multi_fit_lines_carry_their_block_of_the_joint_covariance(self):
        x, y, e, tags = zip(*TAGGED)
        x, y, e = (np.array(v, dtype=float) for v in (x, y, e))
        names = sorted(set(tags))
        own = np.array([[1.0 if t == n else 0.0 for n in names] for t in tags])
        path = self.write("tagged.txt", TAGGED)
        for kind in ("same-gradient", "same-intercept"):
            with self.subTest(kind=kind):
                if kind == "same-gradient":  # q = (m, c1 .. cK)
                    design = np.column_stack([x, own])
                else:  # q = (c, m1 .. mK)
                    design = np.column_stack([np.ones_like(x), own * x[:, None]])
                joint = weightedcov(design, e)
                fits = fitjson("--multi", kind, path)
                self.assertEqual(len(fits), len(names))
                for j, f in enumerate(fits):
                    block = joint[np.ix_([0, j + 1], [0, j + 1])]
                    if kind == "same-intercept":  # the line's a is its own m
                        block = block[::-1, ::-1]
                    self.check(f, block)

    def test_periodic_covariance_is_the_inverse_curvature(self):
        # Exact data y = 2 cos(3 x): at the solution the Newton matrix is
        # J^T W J of the model's derivatives.
        x, y, e = np.loadtxt(f"{DATA}/cos.txt", unpack=True)
        (f,) = fitjson("-m", "periodic", "-e", "1.9,3.05", f"{DATA}/cos.txt")
        A, B = (p["value"] for p in f["parameters"])
        jac = np.column_stack([np.cos(B * x), -A * x * np.sin(B * x)])
        self.assertMatrix(f["covariance"], weightedcov(jac, e), rtol=1e-6)

    def test_resonance_covariance_is_the_inverse_curvature(self):
        # On exact points the parabola through 1/y, weighted by y^4/e^2, has
        # the curvature of the model itself: the covariance of (A, B, C) is
        # (J^T W J)^-1 with J the model's derivatives.
        A, B, C = 2.0, 1.0, 0.5
        x = np.arange(-1.0, 3.01, 0.25)
        y = A / ((B - x) ** 2 + C)
        e = 0.01 + 0.02 * y
        path = self.write("resonance.txt", zip(x.tolist(), [repr(v) for v in y], e.tolist()))
        (f,) = fitjson("-m", "resonance", path)
        self.assertMatrix([p["value"] for p in f["parameters"]], np.array([A, B, C]), rtol=1e-9)
        d = (B - x) ** 2 + C
        jac = np.column_stack([1 / d, -2 * A * (B - x) / d**2, -A / d**2])
        self.check(f, weightedcov(jac, e))

    def test_power_law_covariance_from_the_log_line(self):
        pts = [(1, 3.1, 0.1), (2, 11.8, 0.3), (3, 27.5, 0.5), (4, 48.9, 1.0), (5, 75.6, 2.0)]
        x, y, e = columns(pts)
        (f,) = fitjson("-m", "power", self.write("power.txt", pts))
        # y = A |x|^B is a straight line log10 y = B/2 log10 x^2 + log10 A
        # with errors e / (y ln 10): propagate its covariance to (A, B).
        p, cov = np.polyfit(np.log10(x * x), np.log10(y), 1, w=y * np.log(10) / e,
                            cov="unscaled")
        A = 10 ** p[1]
        jac = np.array([[0, A * np.log(10)], [2, 0]])
        self.check(f, jac @ cov @ jac.T)

    def test_text_prints_the_matrices_after_the_description(self):
        path = self.write("line.txt", LINE)
        out = run("--covariance", path).stdout.split("\n")
        plain = run(path).stdout.split("\n")
        # The information text stands as it is; the matrices come before its
        # closing blank line.
        self.assertEqual(out[:len(plain) - 2], plain[:-2])
        rest = out[len(plain) - 2:]
        self.assertEqual(rest[0], "Covariance:")
        self.assertEqual(rest[1].split(), ["a", "b"])
        x, y, e = columns(LINE)
        _, cov = np.polyfit(x, y, 1, w=1 / e, cov="unscaled")
        shown = np.array([[float(v) for v in rest[k].split()[1:]] for k in (2, 3)])
        self.assertMatrix(shown, cov, rtol=1e-7)
        self.assertEqual(rest[4], "Correlation:")
        self.assertEqual(rest[6].split()[1], "1")
        self.assertAlmostEqual(float(rest[6].split()[2]), cov[0, 1] / math.sqrt(cov[0, 0] * cov[1, 1]),
                               places=7)
        self.assertEqual(rest[-2:], [" ", ""])


class GoodnessOfFit(Folder):
    def test_p_value_and_reduced_chisq_against_scipy(self):
        cases = [(self.write("line.txt", LINE),), ("-m", "quadratic", self.write("quad.txt", QUAD)),
                 (f"{DATA}/poly5.txt",), ("-m", "quadratic", f"{DATA}/poly5.txt")]
        for args in cases:
            with self.subTest(args=args):
                for f in fitjson(*args):
                    self.assertGreater(f["dof"], 0)
                    self.assertAlmostEqual(f["reduced_chisq"], f["chisq"] / f["dof"], delta=1e-12 * f["chisq"])
                    want = chi2.sf(f["chisq"], f["dof"])
                    self.assertLessEqual(abs(f["p_value"] - want), 1e-9 * want + 1e-300)

    def test_no_degrees_of_freedom_no_p_value(self):
        fits = fitjson("--multi", "same-gradient", f"{DATA}/tagged2pt.txt")
        for f in fits:
            self.assertEqual(f["dof"], 0)
            self.assertIsNone(f["p_value"])
            self.assertIsNone(f["reduced_chisq"])
        r = run("--csv", "--multi", "same-gradient", f"{DATA}/tagged2pt.txt")
        rows = list(csv.DictReader(io.StringIO(r.stdout)))
        self.assertEqual([(row["reduced_chisq"], row["p_value"]) for row in rows], [("n/a", "n/a")] * 2)


class ScaledUncertainties(Folder):
    def test_as_curve_fit_reports_them(self):
        x, y, e = columns(QUAD)
        path = self.write("quad.txt", QUAD)
        popt, pcov = curve_fit(lambda t, a, b, c: a * t * t + b * t + c, x, y, p0=[1, 1, 1],
                               sigma=e, absolute_sigma=False)
        (f,) = fitjson("-m", "quadratic", "--scale-errors", path)
        (g,) = fitjson("-m", "quadratic", path)
        self.assertTrue(f["scaled"])
        self.assertAlmostEqual(f["scale"], math.sqrt(g["chisq"] / g["dof"]), delta=1e-12)
        self.assertMatrix(f["covariance"], pcov, rtol=1e-6)
        self.assertMatrix([p["uncertainty"] for p in f["parameters"]], np.sqrt(np.diag(pcov)), rtol=1e-6)
        # The fit itself and its chi-square do not change.
        self.assertEqual([p["value"] for p in f["parameters"]], [p["value"] for p in g["parameters"]])
        self.assertEqual((f["chisq"], f["p_value"]), (g["chisq"], g["p_value"]))
        self.assertMatrix(f["correlation"], np.array(g["correlation"]), rtol=1e-12, atol=1e-15)

    def test_multi_fit_scales_by_the_joint_chisq(self):
        x, y, e, tags = zip(*TAGGED)
        x, y, e = (np.array(v, dtype=float) for v in (x, y, e))
        names = sorted(set(tags))
        own = np.array([[1.0 if t == n else 0.0 for n in names] for t in tags])
        design = np.column_stack([x, own])
        q, *_ = np.linalg.lstsq(design / e[:, None], y / e, rcond=None)
        chisq = np.sum(((y - design @ q) / e) ** 2)
        joint = weightedcov(design, e) * chisq / (len(x) - len(q))
        path = self.write("tagged.txt", TAGGED)
        fits = fitjson("--multi", "same-gradient", "--scale-errors", path)
        for j, f in enumerate(fits):
            self.assertAlmostEqual(f["scale"], math.sqrt(chisq / (len(x) - len(q))), delta=1e-9)
            self.assertMatrix(f["covariance"], joint[np.ix_([0, j + 1], [0, j + 1])], rtol=1e-8)

    def test_text_says_so(self):
        path = self.write("quad.txt", QUAD)
        (g,) = fitjson("-m", "quadratic", path)
        out = run("-m", "quadratic", "--scale-errors", path).stdout.split("\n")
        note = [l for l in out if l.startswith("Uncertainties multiplied by sqrt(ChiSqu/DoF) = ")]
        self.assertEqual(len(note), 1)
        self.assertAlmostEqual(float(note[0].rsplit("= ", 1)[1]), math.sqrt(g["chisq"] / g["dof"]), places=6)
        shown = {l.split(" = ")[0]: float(l.split(" = ")[1].split(" +/- ")[1]) for l in out if " +/- " in l}
        factor = math.sqrt(g["chisq"] / g["dof"])
        for p in g["parameters"]:
            # Shown uncertainties are rounded down to three figures.
            self.assertAlmostEqual(shown[p["label"]], p["uncertainty"] * factor,
                                   delta=0.01 * p["uncertainty"] * factor)

    def test_lines_without_degrees_of_freedom_take_the_joint_ones(self):
        # Two points per line leave each line no degrees of freedom, but the
        # joint system of four points and three parameters has one.
        r = run("--json", "--scale-errors", "--multi", "same-gradient", f"{DATA}/tagged2pt.txt")
        fits = json.loads(r.stdout)["fits"]
        joint = sum(f["chisq"] for f in fits)
        for f in fits:
            self.assertEqual(f["dof"], 0)
            self.assertTrue(f["scaled"])
            self.assertAlmostEqual(f["scale"], math.sqrt(joint / 1), delta=1e-12)


class Residuals(Folder):
    def test_file_reads_back(self):
        x, y, e = columns(LINE)
        path = self.write("line.txt", LINE)
        res = os.path.join(self.dir, "line.res")
        r = run("--residuals", res, path)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stdout, run(path).stdout)  # the report is unchanged
        with open(res) as f:
            text = f.read()
        self.assertTrue(text.startswith("#"))
        self.assertIn("# x\ty\terror\tfitted\tdeviation\tnormalised_deviation\n", text)
        back = np.loadtxt(res)
        p = np.polyfit(x, y, 1, w=1 / e)
        fitted = np.polyval(p, x)
        np.testing.assert_array_equal(back[:, 0:3], np.column_stack([x, y, e]))
        np.testing.assert_allclose(back[:, 3], fitted, rtol=1e-12)
        np.testing.assert_allclose(back[:, 4], y - fitted, atol=1e-12)
        np.testing.assert_allclose(back[:, 5], (y - fitted) / e, atol=1e-10)
        # The normalised deviations are what the chi-square adds up.
        (f,) = fitjson(path)
        self.assertAlmostEqual(np.sum(back[:, 5] ** 2), f["chisq"], delta=1e-9 * f["chisq"])

    def test_standard_output_and_one_block_per_line(self):
        r = run("--residuals", "-", "--multi", "same-gradient", f"{DATA}/tagged2.txt")
        self.assertEqual(r.returncode, 0)
        blocks = r.stdout.split("\n\n\n")
        fits = fitjson("--multi", "same-gradient", f"{DATA}/tagged2.txt")
        self.assertEqual(len(blocks), len(fits))
        for block, f in zip(blocks, fits):
            self.assertIn(f"# fit: {f['name']}\n", block)
            rows = np.loadtxt(io.StringIO(block), ndmin=2)
            a, b = (p["value"] for p in f["parameters"])
            np.testing.assert_allclose(rows[:, 3], a * rows[:, 0] + b, rtol=1e-12)

    def test_standard_output_alone(self):
        for extra in ("--json", "--csv", "--covariance"):
            r = run("--residuals", "-", extra, f"{DATA}/line3.txt")
            self.assertEqual(r.returncode, 2, extra)
            self.assertEqual(r.stdout, "")


class ManyFiles(Folder):
    def test_three_files_one_failing(self):
        good1 = self.write("run1.txt", LINE)
        bad = f"{DATA}/zeroerror.txt"
        good2 = self.write("run,2 \"final\".txt", QUAD)
        r = run("--csv", good1, bad, good2)
        self.assertEqual(r.returncode, 2)
        # The failing file's message, after its name, on standard error, and
        # the likely cause: the line that holds the error of zero.
        self.assertEqual(r.stderr.splitlines()[0],
                         f"{bad}: Y error points can not contain ZERO or MINIUS values")
        self.assertTrue(r.stderr.splitlines()[1].startswith(
            f"{bad}: Line 2 holds an error of zero or below"), r.stderr)
        self.assertEqual(len(r.stderr.splitlines()), 2, r.stderr)
        # RFC 4180: CRLF records, the awkward name quoted with doubled quotes.
        self.assertTrue(r.stdout.endswith("\r\n"))
        self.assertIn('"' + good2.replace('"', '""') + '"', r.stdout)
        rows = list(csv.reader(io.StringIO(r.stdout, newline="")))
        self.assertEqual(rows[0], ["file", "dataset", "model", "a", "a_uncertainty", "b", "b_uncertainty",
                                   "chisq", "dof", "reduced_chisq", "p_value", "verdict", "verdict_word",
                                   "status", "reason"])
        self.assertEqual([row[0] for row in rows[1:]], [good1, bad, good2])
        self.assertTrue(all(len(row) == len(rows[0]) for row in rows))
        # The failed file: its fields empty, then its status and its reason.
        # The reason: the message, then the likely cause the command printed.
        self.assertEqual(rows[2][:14], [bad, "", "linear"] + [""] * 10 + ["fit failed"])
        self.assertEqual(rows[2][14].split("; ")[0],
                         "Y error points can not contain ZERO or MINIUS values")
        self.assertTrue(rows[2][14].split("; ", 1)[1].startswith(
            "Line 2 holds an error of zero or below"), rows[2][14])
        self.assertEqual([rows[1][13], rows[3][13]], ["fitted", "fitted"])
        for row, path in ((rows[1], good1), (rows[3], good2)):
            (f,) = fitjson(path)
            self.assertEqual(float(row[3]), f["parameters"][0]["value"])
            self.assertEqual(float(row[4]), f["parameters"][0]["uncertainty"])
            self.assertEqual(float(row[7]), f["chisq"])
            self.assertEqual(int(row[8]), f["dof"])
            self.assertEqual(float(row[10]), f["p_value"])
            self.assertEqual(row[12], f["verdictword"])

    def test_worst_status_and_every_report(self):
        line = self.write("run1.txt", LINE)
        # A fit that fails (1) beside one that succeeds.
        r = run("-m", "power", line, f"{DATA}/zerox.txt")
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stdout.startswith(f"==> {line} <==\n"))
        self.assertNotIn("zerox", r.stdout)
        self.assertEqual(r.stderr.splitlines(),
                         [f"{DATA}/zerox.txt: This fit routine can not have 0 value in the data for x or y",
                          f"{DATA}/zerox.txt: Critical Failure Occurred In Fitted The Chosen Line"])
        # JSON: every fit with its file, every failure with its messages.
        r = run("--json", "-m", "power", line, f"{DATA}/missing.txt", f"{DATA}/zerox.txt")
        self.assertEqual(r.returncode, 2)
        doc = json.loads(r.stdout)
        self.assertEqual([f["file"] for f in doc["fits"]], [line])
        self.assertEqual([(f["file"], f["status"]) for f in doc["failed"]],
                         [(f"{DATA}/missing.txt", 2), (f"{DATA}/zerox.txt", 1)])
        self.assertEqual(doc["failed"][1]["messages"][-1], "Critical Failure Occurred In Fitted The Chosen Line")

    def test_all_succeed(self):
        paths = [self.write(f"run{k}.txt", LINE) for k in range(3)]
        r = run("--csv", *paths)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(len(list(csv.reader(io.StringIO(r.stdout, newline="")))), 4)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=1)
