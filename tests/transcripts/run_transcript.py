#!/usr/bin/env python3
"""Runs one transcript through the real kel executable and compares what a user would see.

A transcript is a session as it reads on screen:

    ## a comment (not part of the session)
    #! args: --catch {dir}/scripts/hello.kel
    >> 1 + 1
    == 2
    >> print "hi"
    hi

Lines starting with ">> " (or a line that is just ">>") are input, piped to kel one line
each; every other line is output, expected exactly and in order. Redirected input shows no
prompt, so the output is the other lines alone. Directives at the top:

    #! args: ...          command-line arguments ({dir} is the transcript's folder)
    #! exit: N            the expected exit code (default 0)
    #! keep-banner        compare the banner too (by default the banner's lines, up to the
                          empty line after "Type HELP for starting information.", are
                          checked and dropped)
    #! no-banner          expect no banner at all (a script run)
    #! no-final-newline   the last input line is sent without its line feed
    #! escapes            input lines may hold \\xHH bytes (for ill-formed UTF-8)
    #! stdin: none        no input at all (/dev/null)
    #! env: NAME=VALUE    an environment variable for kel (repeatable)
    #! http-server        start tests/transcripts/http_server.py on 127.0.0.1 for the session;
                          {port} in input and expected lines is its port

Transcripts named files_*.txt or http_*.txt run with a fresh temporary folder as kel's working
folder (removed afterwards); {tmp} in input and expected lines is that folder.
"""
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

BANNER_END = "Type HELP for starting information."


def parse(path):
    opts = {"args": [], "exit": 0, "banner": "check", "final_newline": True, "escapes": False, "stdin": True,
            "env": {}, "http": False}
    inputs, expected = [], []
    with open(path, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for line in lines:
        if line.startswith("##"):
            continue
        if line.startswith("#! "):
            key, _, value = line[3:].partition(":")
            key, value = key.strip(), value.strip()
            if key == "args":
                folder = os.path.dirname(os.path.abspath(path))
                opts["args"] = [a.replace("{dir}", folder) for a in shlex.split(value)]
            elif key == "exit":
                opts["exit"] = int(value)
            elif key == "keep-banner":
                opts["banner"] = "keep"
            elif key == "no-banner":
                opts["banner"] = "none"
            elif key == "no-final-newline":
                opts["final_newline"] = False
            elif key == "escapes":
                opts["escapes"] = True
            elif key == "stdin":
                opts["stdin"] = value != "none"
            elif key == "env":
                name, _, val = value.partition("=")
                opts["env"][name] = val
            elif key == "http-server":
                opts["http"] = True
            else:
                raise SystemExit(f"{path}: unknown directive {key!r}")
            continue
        if line == ">>" or line.startswith(">> "):
            inputs.append(line[3:])
        else:
            expected.append(line)
    return opts, inputs, expected


def encode_input(inputs, opts):
    data = b""
    for i, line in enumerate(inputs):
        raw = line.encode("utf-8")
        if opts["escapes"]:
            raw = re.sub(rb"\\x([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]), raw)
        data += raw
        if i < len(inputs) - 1 or opts["final_newline"]:
            data += b"\n"
    return data


def start_http_server():
    server = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                            "http_server.py")],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    port = server.stdout.readline().decode().strip()
    if not port.isdigit():
        server.kill()
        raise SystemExit("the HTTP test server did not start")
    return server, port


def main():
    kel, path = sys.argv[1], sys.argv[2]
    if os.sep in kel:
        kel = os.path.abspath(kel)  # the session may run in another folder
    timeout = float(os.environ.get("KEL_TRANSCRIPT_TIMEOUT", "60"))
    opts, inputs, expected = parse(path)
    name = os.path.basename(path)
    cwd = os.path.dirname(os.path.abspath(path))
    tmp = None
    server = None
    if name.startswith("files_") or name.startswith("http_"):
        tmp = tempfile.mkdtemp(prefix="kel-transcript-")
        cwd = tmp
    try:
        subst = {"{tmp}": tmp or ""}
        if opts["http"]:
            server, port = start_http_server()
            subst["{port}"] = port

        def fill(line):
            for k, v in subst.items():
                line = line.replace(k, v)
            return line
        inputs = [fill(line) for line in inputs]
        expected = [fill(line) for line in expected]
        return run(kel, path, opts, inputs, expected, timeout, cwd)
    finally:
        if server:
            server.kill()
            server.wait()
        if tmp:
            shutil.rmtree(tmp, ignore_errors=True)


def run(kel, path, opts, inputs, expected, timeout, cwd):
    stdin = subprocess.DEVNULL if not opts["stdin"] else None
    data = encode_input(inputs, opts) if opts["stdin"] else None
    # The loopback server is reached directly, whatever proxy the environment names.
    env = dict(os.environ, no_proxy="127.0.0.1,localhost", NO_PROXY="127.0.0.1,localhost", **opts["env"])
    try:
        proc = subprocess.run([kel] + opts["args"], input=data, stdin=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout, cwd=cwd, env=env)
    except subprocess.TimeoutExpired:
        print(f"FAIL {path}: kel did not end within {timeout} s")
        return 1
    out = proc.stdout.decode("utf-8", errors="backslashreplace")
    got = out.split("\n")
    if got and got[-1] == "":
        got.pop()
    else:
        got[-1] += "<no line feed at the end>"
    failures = []
    if opts["banner"] == "check":
        # The banner is printed as a block, so a blank stands before each of its line feeds.
        stripped = [g.rstrip(" ") for g in got]
        if BANNER_END not in stripped:
            failures.append("the banner is missing")
        else:
            # The banner's last value is a line feed, so an empty line follows it.
            banner_end = stripped.index(BANNER_END) + 1
            if not got[0].startswith("--== Kel "):
                failures.append(f"the banner starts with {got[0]!r}")
            if banner_end < len(got) and got[banner_end] == "":
                banner_end += 1
            else:
                failures.append("no empty line after the banner")
            got = got[banner_end:]
    if got != expected:
        failures.append("output differs:\n" + "\n".join(
            difflib.unified_diff(expected, got, "expected", "kel", lineterm="")))
    if proc.returncode != opts["exit"]:
        failures.append(f"exit code {proc.returncode}, expected {opts['exit']}")
    if proc.stderr:
        failures.append("standard error:\n" + proc.stderr.decode("utf-8", errors="backslashreplace"))
    if failures:
        print(f"FAIL {path}")
        for f in failures:
            print(f)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
