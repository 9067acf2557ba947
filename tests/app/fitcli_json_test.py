#!/usr/bin/env python3
"""orvalle-fit --json: the output parses as JSON and carries the fit's values.

Usage: fitcli_json_test.py PATH-TO-orvalle-fit DATA-FOLDER
"""
import json
import math
import subprocess
import sys
import unittest

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "orvalle-fit"
DATA = sys.argv[2] if len(sys.argv) > 2 else "."


def fit(*args):
    run = subprocess.run([PROGRAM, "--json", *args], capture_output=True, text=True, check=False)
    if run.returncode != 0:
        raise AssertionError(f"status {run.returncode}: {run.stderr}")
    return json.loads(run.stdout)


def data(name):
    return f"{DATA}/{name}"


class JsonOutput(unittest.TestCase):
    def test_polynomial_uncertainties_belong_to_the_coefficients(self):
        # (0,100), (1,200), (2,300) with errors 1: a = 100 +/- 1/sqrt(2),
        # b = 100 +/- sqrt(5/6), the uncertainty of the intercept at x = 0.
        for solver in ("gauss", "cramer"):
            with self.subTest(solver=solver):
                (f,) = fit("--solver", solver, data("poly3.txt"))["fits"]
                a, b = f["parameters"]
                self.assertEqual((a["label"], b["label"]), ("a", "b"))
                self.assertAlmostEqual(a["value"], 100, delta=1e-9)
                self.assertAlmostEqual(b["value"], 100, delta=1e-9)
                self.assertAlmostEqual(a["uncertainty"], 1 / math.sqrt(2), delta=1e-12)
                self.assertAlmostEqual(b["uncertainty"], math.sqrt(5 / 6), delta=1e-12)
                self.assertEqual(f["dof"], 1)
                self.assertEqual(f["verdict"], -2)
                self.assertEqual(f["verdictword"], "")
                self.assertEqual(f["model"], "linear")
                self.assertEqual(f["limits"], {"5%": 0.004, "20%": 0.064, "80%": 1.642, "95%": 3.841})
                self.assertEqual(f["description"][0], "Fit of the form y=ax+b with ")
                self.assertTrue(f["description"][1].startswith("WARNING: The chi-square value"))

    def test_numbers_are_shortest_and_read_back_exactly(self):
        # 1/sqrt(2) to the last bit, in the fewest digits that give it back
        # (as --csv writes numbers); every number of the report likewise.
        run = subprocess.run([PROGRAM, "--json", "--covariance", data("poly3.txt")],
                             capture_output=True, text=True)
        self.assertIn('"uncertainty": 0.7071067811865476', run.stdout)
        numbers = []
        json.loads(run.stdout, parse_float=lambda t: numbers.append(t) or float(t))
        self.assertGreater(len(numbers), 10)
        def digits(text):
            mantissa = text.lower().split("e")[0].lstrip("-").replace(".", "")
            return mantissa.strip("0")
        for t in numbers:
            # Python's repr is the shortest that reads back the same.
            self.assertEqual(digits(t), digits(repr(float(t))), t)

    def test_names_that_are_not_utf8_are_replaced_and_said(self):
        # A Latin-1 file name: the JSON stays UTF-8, the byte becomes
        # U+FFFD and "replaced" names the keys that had such bytes.
        import os
        import shutil
        import tempfile
        folder = tempfile.mkdtemp()
        try:
            name = os.path.join(folder.encode(), b"r\xe9sultat.txt")
            shutil.copy(data("line3.txt"), name)
            missing = os.path.join(folder.encode(), b"caf\xe9.txt")
            run = subprocess.run([PROGRAM.encode(), b"--json", name, missing], capture_output=True)
            self.assertEqual(run.returncode, 2)
            report = json.loads(run.stdout.decode("utf-8"))
            (f,) = report["fits"]
            self.assertTrue(f["file"].endswith("/r\ufffdsultat.txt"), f["file"])
            self.assertEqual(f["replaced"], ["file"])
            (failed,) = report["failed"]
            self.assertTrue(failed["file"].endswith("/caf\ufffd.txt"))
            self.assertEqual(failed["replaced"], ["file", "messages"])
            # A name that is UTF-8 says nothing of it.
            (clean,) = fit(data("line3.txt"))["fits"]
            self.assertNotIn("replaced", clean)
        finally:
            shutil.rmtree(folder)

    def test_json_and_csv_name_and_write_fields_alike(self):
        for args in ([data("line3.txt")], ["--scale-errors", data("poly3.txt")],
                     ["-m", "periodic", "-e", "2,3", data("cos.txt")]):
            with self.subTest(args=args):
                (f,) = fit(*args)["fits"]
                csv = subprocess.run([PROGRAM, "--csv", *args], capture_output=True, text=True)
                head, row = [line.split(",") for line in csv.stdout.splitlines()[:2]]
                cells = dict(zip(head, row))
                raw = subprocess.run([PROGRAM, "--json", *args], capture_output=True,
                                     text=True).stdout
                for key in ("chisq", "dof", "reduced_chisq", "p_value", "verdict",
                            "verdict_word", "uncertainty_scale", "model", "dataset"):
                    if key not in cells:
                        continue
                    self.assertIn(key, f)
                    value = f[key]
                    if isinstance(value, float):
                        # The same digits, not just the same number.
                        self.assertIn(f'"{key}": {cells[key]}', raw)
                    else:
                        self.assertEqual(str(value), cells[key], key)
                # The old key stays beside the new one.
                self.assertEqual(f["verdictword"], {0: "good", 1: "suspicious", 2: "bad"}
                                 .get(f["verdict"], ""))
                self.assertEqual(f["scale"], f["uncertainty_scale"])
                for p in f["parameters"]:
                    self.assertIn(f'"value": {cells[p["label"]]}', raw)
                    self.assertIn(f'"uncertainty": {cells[p["label"] + "_uncertainty"]}', raw)

    def test_agrees_with_the_text(self):
        (f,) = fit(data("line3.txt"))["fits"]
        text = subprocess.run([PROGRAM, data("line3.txt")], capture_output=True, text=True).stdout
        lines = text.split("\n")
        self.assertEqual(lines[0], f["name"])
        self.assertEqual(lines[2], f"Degrees of Freedom ={f['dof']}")
        self.assertAlmostEqual(float(lines[1][len("ChiSqu ="):]), f["chisq"], delta=1e-12 * f["chisq"])
        self.assertEqual(lines[3:3 + len(f["description"])], f["description"])
        self.assertEqual(f["dataset"], "")
        self.assertIn(f["verdict"], (-2, -1, 0, 1, 2))
        self.assertEqual(f["verdictword"], {0: "good", 1: "suspicious", 2: "bad"}.get(f["verdict"], ""))

    def test_multi_fit_lines_without_degrees_of_freedom(self):
        # Two points per dataset: every line has 0 degrees of freedom, so
        # there are no limits and no verdict.
        fits = fit("--multi", "same-gradient", data("tagged2pt.txt"))["fits"]
        self.assertEqual([f["name"] for f in fits],
                         ["Dataset a -- Linear (y=ax+b)-Dataset a",
                          "Dataset a -- Linear (y=ax+b)-Dataset b"])
        self.assertEqual([f["dataset"] for f in fits], ["Dataset a", "Dataset b"])
        for f in fits:
            self.assertEqual(f["dof"], 0)
            self.assertIsNone(f["verdict"])
            self.assertEqual(f["limits"], {"5%": None, "20%": None, "80%": None, "95%": None})
        self.assertEqual(fits[0]["parameters"][0], fits[1]["parameters"][0])

    def test_strings_are_escaped(self):
        name = 'a "quoted" \\ name\twith a tab'
        (f,) = fit("--name", name, data("line3.txt"))["fits"]
        self.assertEqual(f["name"], name)

    def test_parameter_labels(self):
        (f,) = fit("-m", "power", data("line3.txt"))["fits"]
        self.assertEqual([p["label"] for p in f["parameters"]], ["A", "B"])
        self.assertEqual(f["model"], "power")
        (g,) = fit("-m", "poly:5", data("poly5.txt"))["fits"]
        self.assertEqual([p["label"] for p in g["parameters"]], list("abcdef"))
        self.assertEqual(g["dof"], 12 - 6)

    def test_formula_agrees_with_scipy(self):
        # A typed formula: its names label the parameters, and its values
        # and unscaled uncertainties are scipy's curve_fit with the y errors
        # as absolute sigmas, an independent implementation.
        model = "formula:A*(1-exp(-x/tau))"
        (f,) = fit("-m", model, "-e", "200,500", data("charge.txt"))["fits"]
        self.assertEqual(f["model"], model)
        self.assertEqual(f["name"], "y=A*(1-exp(-x/tau))")
        self.assertEqual([p["label"] for p in f["parameters"]], ["A", "tau"])
        self.assertEqual(f["dof"], 21 - 2)
        self.assertEqual(f["description"][0], "Fit of the form y=A*(1-exp(-x/tau)) with")
        try:
            import numpy as np
            from scipy.optimize import curve_fit
        except ImportError:
            self.skipTest("scipy is not installed")
        x, y, e = np.loadtxt(data("charge.txt"), unpack=True)
        popt, pcov = curve_fit(lambda x, A, tau: A * (1 - np.exp(-x / tau)), x, y, p0=(200, 500),
                               sigma=e, absolute_sigma=True, method="lm", xtol=1e-14, ftol=1e-14)
        for p, value, var in zip(f["parameters"], popt, np.diag(pcov)):
            self.assertAlmostEqual(p["value"], value, delta=1e-9 * abs(value))
            self.assertAlmostEqual(p["uncertainty"], math.sqrt(var), delta=1e-6 * math.sqrt(var))
        chisq = float(np.sum(((y - popt[0] * (1 - np.exp(-x / popt[1]))) / e) ** 2))
        self.assertAlmostEqual(f["chisq"], chisq, delta=1e-10 * chisq)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=1)
