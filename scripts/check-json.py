#!/usr/bin/env python3
"""Runs every command that speaks JSON under Wine and checks what it prints with Python's own
json module: exactly one document on standard output, the exit code the text run gives, an error
field exactly when it failed, and every field described in docs/json.md. Then applies the GPU
step, reads the ledger as JSON, and uninstalls.

Last, it runs the unattended sequence docs/automation.md gives, line by line, as written there.

Usage: check-json.py WINE_RUN_SH PREFIX QUORVANTIS_EXE DOCS_JSON_MD DOCS_AUTOMATION_MD
"""
import json
import re
import subprocess
import sys

wine_run, prefix, exe, doc_path, automation_path = sys.argv[1:6]
documented = set(re.findall(r"`([a-z_0-9]+)`", open(doc_path, encoding="utf-8").read()))
failures = []


def run(*args):
    done = subprocess.run(["sh", wine_run, "--capture", prefix, exe, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=600)
    return done.returncode, done.stdout


def keys_of(value, path, out):
    if isinstance(value, dict):
        for key, inner in value.items():
            out.add((key, path + "." + key))
            keys_of(inner, path + "." + key, out)
    elif isinstance(value, list):
        for inner in value:
            keys_of(inner, path + "[]", out)


def document(*args, command, expect_code=None):
    code, out = run(*args)
    where = " ".join(args)
    try:
        doc = json.loads(out.decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        failures.append(f"{where}: standard output is not one JSON document ({error}): {out[:300]!r}")
        return code, None
    for field in ("schema", "command", "exit_code", "error", "result"):
        if field not in doc:
            failures.append(f"{where}: no {field} field")
    if doc.get("schema") != 1:
        failures.append(f"{where}: schema {doc.get('schema')!r}")
    if doc.get("command") != command:
        failures.append(f"{where}: command {doc.get('command')!r}, expected {command!r}")
    if doc.get("exit_code") != code:
        failures.append(f"{where}: exit_code {doc.get('exit_code')} but the process exited {code}")
    if (doc.get("error") is None) != (code == 0):
        failures.append(f"{where}: error {doc.get('error')!r} with exit code {code}")
    if expect_code is not None and code != expect_code:
        failures.append(f"{where}: exit code {code}, expected {expect_code}")
    found = set()
    keys_of(doc, "", found)
    for key, path in sorted(found):
        if key not in documented:
            failures.append(f"{where}: field {path} is not described in docs/json.md")
    return code, doc


def text_code(*args):
    return run(*args)[0]


# Each command: the same exit code as its text run, and its document alone on standard output.
for args, command in [
    (["--status"], "status"),
    (["--health"], "health"),
    (["--changes"], "changes"),
    (["--check-driver"], "check-driver"),
    (["--check-update"], "check-update"),
    (["--benchmark", "--fidelity", "low", "--from", "10000", "--to", "10020"], "benchmark"),
    # Refused before it begins: Wine has no frame capture program to name.
    (["--compare-game", "game.exe"], "compare-game"),
    (["--bogus"], "default"),
]:
    code, _ = document(*args, "--json", command=command)
    plain = text_code(*args)
    if code != plain:
        failures.append(f"{' '.join(args)} --json exited {code}, the text run {plain}")

document("--stop", "--json", command="stop", expect_code=1)
_, whatif = document("--what-if", "--json", command="what-if", expect_code=0)
if whatif and not any(s["step"] == "GPU Config" for s in whatif["result"]["steps"]):
    failures.append("--what-if --json: the default flow lists no GPU Config step")

# The ledger after a real apply: every GPU record with its original, then nothing after the uninstall.
code, _ = run("--apply-gpu", "--gpu", "--yes", "--no-pause")
if code != 0:
    failures.append(f"--apply-gpu exited {code}")
_, changes = document("--changes", "--json", command="changes", expect_code=0)
if changes:
    gpu = [s for s in changes["result"]["steps"] if s["step"] == "GPU Config"]
    rows = gpu[0]["changes"] if gpu else []
    if not rows:
        failures.append("--changes --json after --apply-gpu lists no GPU Config record")
    for row in rows:
        if not row["recorded"] or row["original"] is None:
            failures.append(f"--changes --json: {row['setting']} has no recorded original")
    if not any("put back" in line for line in changes["result"]["uninstall"]):
        failures.append(f"--changes --json: the uninstall plan puts nothing back: {changes['result']['uninstall']}")
_, planned = document("--what-if", "--apply-gpu", "--json", command="what-if", expect_code=0)
if planned and not any(row["recorded"] for s in planned["result"]["steps"] for row in s["changes"]):
    failures.append("--what-if --apply-gpu --json after an apply says no record exists")
# One change put back alone: previewed, then done, then no longer on the ledger.
_, revert_plan = document("--revert", "gpu.HAGS", "--what-if", "--json", command="what-if", expect_code=0)
if revert_plan and not revert_plan["result"]["revert"]:
    failures.append("--revert gpu.HAGS --what-if --json says nothing it would do")
_, reverted = document("--revert", "gpu.HAGS", "--yes", "--json", command="revert", expect_code=0)
if reverted and reverted["result"]["put_back"] != ["gpu.HAGS"]:
    failures.append(f"--revert gpu.HAGS --json put back {reverted['result']['put_back']}")
_, after_revert = document("--changes", "--json", command="changes", expect_code=0)
if after_revert and any(row["id"] == "gpu.HAGS" for s in after_revert["result"]["steps"] for row in s["changes"]):
    failures.append("--changes --json still lists gpu.HAGS after --revert gpu.HAGS")
document("--revert", "gpu.NOSUCH", "--json", command="revert", expect_code=1)
code, _ = run("--uninstall", "--no-pause")
if code != 0:
    failures.append(f"--uninstall exited {code}")
_, empty = document("--changes", "--json", command="changes", expect_code=0)
if empty and empty["result"]["steps"]:
    failures.append(f"--changes --json after the uninstall still lists {empty['result']['steps']}")

# The unattended sequence of docs/automation.md, exactly as written there.
automation = open(automation_path, encoding="utf-8").read()
block = re.search(r"## Any other tool.*?```text\n(.*?)```", automation, re.S)
if not block:
    failures.append("docs/automation.md has no command block under 'Any other tool'")
else:
    lines = [line.split()[1:] for line in block.group(1).splitlines() if line.startswith("Quorvantis.exe ")]
    for args in lines:
        if "--json" in args:
            command = "what-if" if "--what-if" in args else args[0].lstrip("-")
            document(*args, command=command, expect_code=0)
        else:
            code, _ = run(*args)
            if code != 0:
                failures.append(f"docs/automation.md: {' '.join(args)} exited {code}")
    if not any("--uninstall" in args for args in lines):
        failures.append("docs/automation.md: the sequence never uninstalls")

for failure in failures:
    print(failure)
print("Every JSON document parsed, kept its exit code and is described." if not failures else f"{len(failures)} problem(s).")
sys.exit(1 if failures else 0)
