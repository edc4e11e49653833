#!/usr/bin/env python3
"""Pipes random sessions made of the language's token fragments into kel: whatever the input,
the console must neither crash nor hang, and nothing may reach standard error.

Usage: random_sessions.py KEL COUNT [SEED]
"""
import random
import subprocess
import sys

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
    for _ in range(count):
        data = b"".join(rng.choice(FRAGMENTS) for _ in range(rng.randint(1, 80)))
        text = data
        try:
            proc = subprocess.run([kel], input=data, capture_output=True, timeout=60)
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
    print(f"{count} sessions, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
