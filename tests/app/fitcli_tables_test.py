#!/usr/bin/env python3
"""orvalle-fit on tables from other programs and on standard input.

Exports made to look like phyphox, LibreOffice (German locale), a data logger
and a spreadsheet's UTF-16 text are fitted directly; their columns are chosen
by header name; "-" reads standard input. The straight-line fits are checked
against the weighted least-squares solution computed here in exact rational
arithmetic from the decimal texts of the table. Refused tables and failed
conversions say the line, the column and the likely cause.

Usage: fitcli_tables_test.py ORVALLE_FIT TABLES_DIR
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest
from fractions import Fraction

FIT = sys.argv[1] if len(sys.argv) > 1 else "build/app/orvalle-fit"
TABLES = sys.argv[2] if len(sys.argv) > 2 else "tests/data/tables"


def run(*args, stdin=b""):
    r = subprocess.run([FIT, *args], input=stdin, capture_output=True, timeout=60)
    return r.returncode, r.stdout.decode(), r.stderr.decode()


def line_fit(xs, ys, es):
    """y = a x + b by weighted least squares, exactly: (a, b, chisq)."""
    w = [1 / (e * e) for e in es]
    s = sum(w)
    sx = sum(wi * x for wi, x in zip(w, xs))
    sy = sum(wi * y for wi, y in zip(w, ys))
    sxx = sum(wi * x * x for wi, x in zip(w, xs))
    sxy = sum(wi * x * y for wi, x, y in zip(w, xs, ys))
    d = s * sxx - sx * sx
    a = (s * sxy - sx * sy) / d
    b = (sxx * sy - sx * sxy) / d
    chisq = sum(wi * (y - a * x - b) ** 2 for wi, x, y in zip(w, xs, ys))
    return a, b, chisq


def F(texts):
    return [Fraction(t.replace(",", ".")) for t in texts]


class Tables(unittest.TestCase):
    def check_line(self, fit, xs, ys, es):
        a, b, chisq = line_fit(xs, ys, es)
        got = {p["label"]: p["value"] for p in fit["parameters"]}
        for name, want in (("a", a), ("b", b)):
            self.assertAlmostEqual(got[name] / float(want), 1.0, delta=1e-12, msg=name)
        self.assertAlmostEqual(fit["chisq"] / float(chisq), 1.0, delta=1e-9)

    def fitjson(self, *args, stdin=b""):
        status, out, err = run("--json", *args, stdin=stdin)
        self.assertEqual(status, 0, err)
        return json.loads(out)["fits"]

    def test_libreoffice_semicolons_and_decimal_commas(self):
        path = os.path.join(TABLES, "libreoffice_de.csv")
        fits = self.fitjson(path)
        self.assertEqual(len(fits), 1)
        self.assertEqual(fits[0]["file"], path)
        self.check_line(fits[0], F(["0", "0,5", "1", "1,5"]), F(["1,25", "2,5", "3,75", "-4,875"]),
                        F(["0,05", "0,05", "0,06", "0,1"]))

    def test_columns_by_header_name(self):
        path = os.path.join(TABLES, "logger_units.csv")
        xs, ys = F(["0.00", "0.05", "0.10"]), F(["0.512", "0.498", "0.471"])
        for names in (["--x", "Time (s)", "--y", "Position (m)"], ["--x", "time", "--y", "POSITION"],
                      ["--x", "A", "--y", "B"]):
            fits = self.fitjson(*names, "--err", "absolute:0.002", path)
            self.check_line(fits[0], xs, ys, [Fraction("0.002")] * 3)
        # phyphox: time against the absolute acceleration, errors by name too.
        path = os.path.join(TABLES, "phyphox_acceleration.csv")
        fits = self.fitjson("--x", "Time (s)", "--y", "Absolute acceleration (m/s^2)", "--err",
                            "percent:10", path)
        xs = F(["1.200482210E-2", "2.201938629E-2", "3.203392029E-2"])
        ys = F(["2.911245483E-2", "3.385131806E-2", "2.951735452E-2"])
        self.check_line(fits[0], xs, ys, [y / 10 for y in ys])
        # A name no column has: the columns are listed.
        status, out, err = run("--x", "Zeit", path)
        self.assertEqual(status, 2)
        self.assertEqual(out, "")
        self.assertIn('--x "Zeit": no column of the file has that name; its columns are '
                      'Col A "Time (s)", Col B "Linear Acceleration x (m/s^2)"', err)

    def test_a_saved_import_keeps_its_column_names(self):
        # As Import Table writes it and Save keeps it.
        text = ("# Imported from /home/student/run.csv (semicolon-separated)\n"
                "# Zeit\tSpannung\tStrom\n# s\tV\tmA\n"
                "1\t2.5\t0.1\n2\t4.25\t0.2\n3\t6.5\t0.3\n4\t8\t0.4\n")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "run.txt")
            with open(path, "w") as f:
                f.write(text)
            fits = self.fitjson("--x", "Zeit (s)", "--y", "spannung", "--err", "absolute:0.1", path)
            self.check_line(fits[0], F(["1", "2", "3", "4"]), F(["2.5", "4.25", "6.5", "8"]),
                            [Fraction("0.1")] * 4)
            status, out, err = run("--x", "Zeit", "--y", "Strom", "--err", "absolute:0.1", "-",
                                   stdin=text.encode())
            self.assertEqual(status, 0, err)
        # A data text not imported names no columns.
        status, out, err = run("--x", "Zeit (s)", "-",
                               stdin=b"# Zeit U dU\n1 2 0.1\n2 4 0.1\n3 5 0.1\n")
        self.assertEqual(status, 2)
        self.assertIn('--x "Zeit (s)": the file names no columns in a header', err)

    def test_quoted_comma_and_tsv(self):
        fits = self.fitjson(os.path.join(TABLES, "quoted_comma.csv"))
        self.check_line(fits[0], F(["10", "20", "40"]), F(["0.143", "0.202", "0.286"]),
                        F(["0.005", "0.005", "0.006"]))
        fits = self.fitjson(os.path.join(TABLES, "cooling_header.tsv"))
        self.check_line(fits[0], F(["0", "2", "4"]), F(["95.2", "81.7", "70.3"]),
                        F(["0.5", "0.5", "0.4"]))

    def test_standard_input(self):
        with open(os.path.join(TABLES, "libreoffice_de.csv"), "rb") as f:
            table = f.read()
        fits = self.fitjson("-", stdin=table)
        self.assertEqual(fits[0]["file"], "<stdin>")
        self.check_line(fits[0], F(["0", "0,5", "1", "1,5"]), F(["1,25", "2,5", "3,75", "-4,875"]),
                        F(["0,05", "0,05", "0,06", "0,1"]))
        # The program's own data text, and UTF-16 tab-separated text (a
        # spreadsheet's "Unicode text").
        plain = b"# t U dU\n1 2.5 0.1\n2 4.25 0.1\n3 6.5 0.2\n"
        utf16 = "t\tU\tdU\r\n1\t2,5\t0,1\r\n2\t4,25\t0,1\r\n3\t6,5\t0,2\r\n".encode("utf-16")
        for data in (plain, utf16):
            fits = self.fitjson("-", stdin=data)
            self.check_line(fits[0], F(["1", "2", "3"]), F(["2.5", "4.25", "6.5"]),
                            F(["0.1", "0.1", "0.2"]))
        status, out, err = run("-", stdin=plain)
        self.assertEqual(status, 0, err)
        self.assertTrue(out.startswith("Linear (y=ax+b)\nChiSqu ="), out)
        # Several files: each message after the name <stdin>.
        status, out, err = run("-", os.path.join(TABLES, "cooling_header.tsv"),
                               stdin=b"1 2 0\n2 4 0.1\n3 5 0.1\n")
        self.assertEqual(status, 2)
        self.assertTrue(err.startswith("<stdin>: Y error points can not contain ZERO or MINIUS "
                                       "values\n<stdin>: Line 1 holds an error of zero"), err)
        self.assertIn("==> " + os.path.join(TABLES, "cooling_header.tsv") + " <==", out)


class Refusals(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_tables_that_are_refused(self):
        cases = [
            (b"t,U,dU\n1,2,0.1\n2,4\n", "Line 3 has 2 fields, where the first line of numbers "
             "(line 2) has 3"),
            (b"t;U;dU\n1;2;0,1\n2;\"-\";0,1\n", 'Line 3, column 2: "-" is not a number'),
            (b"t,U,dU\n1,\"2,5\",0.1\n", 'Line 2, column 2: "2,5" has a decimal comma'),
            (b"t;U;dU\n1;2;0,1\n2;;0,1\n", "Line 3, column 2 is empty"),
        ]
        for data, says in cases:
            path = self.write("bad.csv", data)
            status, out, err = run(path)
            self.assertEqual(status, 2, data)
            self.assertEqual(out, "")
            self.assertEqual(err, f"Cannot import {path}: " + err.split(": ", 1)[1])
            self.assertIn(says, err, data)

    def test_failed_conversions_say_the_likely_cause(self):
        cases = [
            (b"t U dU\n1 2 0.1\n2 4 0.1\n", "Error Unable to Convert line 1",
             "A line of words, such as a header with names or units? Start it with #"),
            (b"1 2,5 0,1\n2 4,5 0,1\n", "Unable to Convert to Chart error on row 1, column 2",
             "A decimal comma? Write 1.5, not 1,5."),
            ("1 2 0.1\n2 4 0.1\n".encode("utf-16"), None, "UTF-16 text, as a spreadsheet saves it?"),
            (b"# run 3\n1 2 0.1\n\n2 4 0\n3 5 0.1\n", "Y error points can not contain ZERO or "
             "MINIUS values", "Line 4 holds an error of zero or below"),
            (b"1 2 0.1 a\n2 4 0 a\n", "Y error points can not contain ZERO or MINIUS values - row "
             "2, column 3", "Line 2 holds an error of zero or below"),
        ]
        for data, first, hint in cases:
            path = self.write("run.txt", data)
            status, out, err = run(path)
            self.assertEqual(status, 2, data)
            lines = err.splitlines()
            self.assertEqual(len(lines), 2, err)
            if first:
                self.assertTrue(lines[0].startswith(first), err)
            self.assertTrue(lines[1].startswith(hint), err)
        # A cause that none of these fits gets no hint.
        status, out, err = run(self.write("one.txt", b"1 2\n2 3..5\n"))
        self.assertEqual(len(err.splitlines()), 1, err)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
