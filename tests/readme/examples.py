#!/usr/bin/env python3
"""Runs the examples of the given pages and compares their output with the page.

  examples.py TOOL SIM_DIR SOURCE_DIR PAGE...

An example is a fenced block whose first line starts with "$ ": each "$ "
line is a command, the lines up to the next one are its output (standard
output and standard error, as a terminal shows them, without the bell). Each
example runs on a fresh sample machine (scripts/sample-machine.sh) in a
working folder of its own, with VELMORA_ROOT naming the machine, TOOL on PATH
as `snapreserve` and the source's scripts/ at `scripts`. `echo $?` gives the
status of the command before it, as a shell does.
"""
import difflib
import os
import subprocess
import sys
import tempfile


def examples(page):
    lines = open(page, encoding="utf-8").read().split("\n")
    start = None
    for number, line in enumerate(lines, 1):
        if not line.startswith("```"):
            continue
        if start is None:
            start = number
            continue
        block = lines[start:number - 1]
        if block and block[0].startswith("$ "):
            yield start + 1, block
        start = None


def run(block, tool, sim, source):
    with tempfile.TemporaryDirectory() as scratch:
        machine, work, bin_dir = (os.path.join(scratch, name) for name in ("machine", "work", "bin"))
        subprocess.run([os.path.join(source, "scripts", "sample-machine.sh"), machine, sim],
                       check=True)
        os.mkdir(work)
        os.mkdir(bin_dir)
        os.symlink(tool, os.path.join(bin_dir, "snapreserve"))
        os.symlink(os.path.join(source, "scripts"), os.path.join(work, "scripts"))
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"],
                   VELMORA_ROOT=machine, LC_ALL="C.UTF-8")
        shown, status = [], 0
        for line in block:
            if not line.startswith("$ "):
                continue
            shown.append(line)
            done = subprocess.run(["sh", "-c", "(exit %d); %s" % (status, line[2:])], cwd=work,
                                  env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            status = done.returncode
            text = done.stdout.decode("utf-8").replace("\a", "")
            shown.extend(text.split("\n")[:-1])
        return shown


def main(tool, sim, source, *pages):
    failed = ran = 0
    for page in pages:
        for line, block in examples(os.path.join(source, page)):
            ran += 1
            shown = run(block, tool, sim, source)
            if shown != block:
                failed += 1
                print("%s:%d: the example differs from what the tool prints:" % (page, line))
                sys.stdout.writelines(d + "\n" for d in difflib.unified_diff(
                    block, shown, "the page", "the tool", lineterm=""))
    print("%d examples, %d differ" % (ran, failed))
    return 1 if failed or not ran else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
