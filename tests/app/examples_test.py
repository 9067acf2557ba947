#!/usr/bin/env python3
"""The example data files: each fits with the trend type and estimates the
help book names, gives back the value the data were made from (within four
of its uncertainties) with a plausible chi-square, and the help book's page
of examples names every file.

Usage: examples_test.py ORVALLE_FIT EXAMPLES_DIR HELP_BOOK_DIR PLUGIN"""
import json
import os
import re
import subprocess
import sys

fit, examples, helpbook, plugin = sys.argv[1:5]

# file, arguments, parameter label (or the shared parameter of a multi fit),
# the value the data were made from.
CASES = [
    ("ohm.txt", ["-m", "linear-origin"], "m", 47.0),
    ("spring.txt", ["-m", "linear"], "b", 12.0),
    ("ramp.txt", ["-m", "quadratic"], "a", 0.31),
    ("thermocouple.txt", ["-m", "cubic"], "c", 0.0395),
    ("pendulum.txt", ["-m", "power"], "B", 0.5),
    ("resonance.txt", ["-m", "resonance"], "B", 50.0),
    ("oscillator.txt", ["-m", "periodic", "-e", "4,8"], "B", 7.854),
    ("damped.txt", ["-m", "periodic-decay", "-e", "20,-0.2,4,0.2"], "B", -0.25),
    ("cooling.txt", ["-m", "custom", "-e", "50,10"], "B", 12.0),
    ("expansion.txt", ["--multi", "same-intercept"], "b", 500.0),
    # Tables of other programs, their columns chosen by the header's names.
    ("phyphox_incline.csv", ["--x", "Time (s)", "--y", "Velocity (m/s)", "--err", "absolute:0.02"],
     "a", 1.25),
    ("spreadsheet_de.csv", ["-m", "linear-origin"], "m", 0.47),
    ("logger_cart.csv", ["-m", "quadratic", "--x", "time", "--y", "position", "--err",
                         "absolute:0.002"], "a", 0.30),
]

failures = []
env = dict(os.environ, ORVALLE_CUSTOMFIT=plugin)
for name, args, label, true in CASES:
    path = os.path.join(examples, name)
    run = subprocess.run([fit, "--json", *args, path], capture_output=True, text=True, env=env)
    if run.returncode != 0:
        failures.append(f"{name}: orvalle-fit failed: {run.stdout}{run.stderr}")
        continue
    for f in json.loads(run.stdout)["fits"]:
        p = next(p for p in f["parameters"] if p["label"] == label)
        if abs(p["value"] - true) > 4 * p["uncertainty"]:
            failures.append(f"{name}: {label} = {p['value']} +/- {p['uncertainty']}, made from {true}")
        if not f["limits"]["5%"] <= f["chisq"] <= f["limits"]["95%"]:
            failures.append(f"{name}: chi-square {f['chisq']} for {f['dof']} is implausible")

files = sorted(n for n in os.listdir(examples)
               if n.endswith((".txt", ".csv")) and n != "CMakeLists.txt")
if files != sorted(c[0] for c in CASES):
    failures.append(f"the examples folder holds {files}")
with open(os.path.join(helpbook, "examples.html"), encoding="utf-8") as page:
    named = set(re.findall(r'<code>([a-z_]+\.(?:txt|csv))</code>', page.read()))
for name in files:
    if name not in named:
        failures.append(f"the help book's examples page does not name {name}")

for f in failures:
    print("FAIL:", f)
print(f"{len(CASES)} examples checked, {len(failures)} failures")
sys.exit(1 if failures else 0)
