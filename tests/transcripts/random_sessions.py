#!/usr/bin/env python3
"""Pipes random sessions made of the language's token fragments into kel: whatever the input,
the console must neither crash nor hang, and nothing may reach standard error.

Usage: random_sessions.py KEL COUNT [SEED]
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

FRAGMENTS = [
    "[", "]", "(", ")", "{", "}", '"', "%", "%{", "}%", "<", ">", "<a", "#{", "#(", "^", ";", "/",
    "1", "a", "a/b", ":", "'", " ", " ", "\n", "\n", "\n", '#"a"', "1.5", "print", "x:", "\x1b",
    "halt", "2x3", "$1", "@", "http://", "%file", "load", "do", "make", "error!", "throw", "break",
    "return", "exit", "catch", "try", "none", "10:00", "1-Jan-2020", "func", "input", "\u00e9",
]
# Bytes that are not UTF-8 at all.
FRAGMENTS = [f.encode("utf-8") for f in FRAGMENTS] + [b"\xff", b"\xc3", b"\xe2\x82"]


def main():
    kel, count = sys.argv[1], int(sys.argv[2])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 2026)
    failures = 0
    # Sessions may write files and read URLs: they work in a folder of their own, and every
    # HTTP request goes to a closed local port, so nothing leaves the machine.
    folder = tempfile.mkdtemp(prefix="kel-random-")
    proxy = "http://127.0.0.1:9"
    env = dict(os.environ, http_proxy=proxy, https_proxy=proxy, HTTP_PROXY=proxy, HTTPS_PROXY=proxy,
               ALL_PROXY=proxy, all_proxy=proxy, no_proxy="", NO_PROXY="")
    try:
        failures = run_sessions(kel, count, rng, folder, env)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print(f"{count} sessions, {failures} failures")
    return 1 if failures else 0


def run_sessions(kel, count, rng, folder, env):
    failures = 0
    for _ in range(count):
        data = b"".join(rng.choice(FRAGMENTS) for _ in range(rng.randint(1, 80)))
        text = data
        try:
            proc = subprocess.run([kel], input=data, capture_output=True, timeout=60, cwd=folder, env=env)
        except subprocess.TimeoutExpired:
            print(f"hang on {text!r}")
            failures += 1
            continue
        # Exit codes 0-127 are statuses (quit/return may give any); -2 (254) is an error that
        # escaped the console; signals and runtime errors are crashes.
        if proc.returncode < 0 or proc.returncode >= 128 or proc.stderr:
            print(f"exit code {proc.returncode} on {text!r}")
            print(proc.stdout.decode("utf-8", errors="replace")[-600:])
            print(proc.stderr.decode("utf-8", errors="replace")[-1200:])
            failures += 1
    return failures


if __name__ == "__main__":
    sys.exit(main())
