#!/usr/bin/env python3
r"""Runs the examples of the given pages and compares their output with the page.

  examples.py TOOL SIM_DIR SOURCE_DIR PAGE...
  examples.py --windows EXE WINDOWS_SIM_DIR SOURCE_DIR PREFIX PAGE...

An example is a fenced block whose first line starts with "$ ": each "$ "
line is a command, the lines up to the next one are its output (standard
output and standard error, as a terminal shows them, without the bell). Each
example runs on a fresh sample machine (scripts/sample-machine.sh) in a
working folder of its own, with VELMORA_ROOT naming the machine, TOOL on PATH
as `snapreserve` and the source's scripts/ at `scripts`. `echo $?` gives the
status of the command before it, as a shell does.

With --windows the examples are the blocks whose first line starts with
"C:\>", run with the Windows program EXE under Wine ($WINE, default wine) in
the Wine prefix PREFIX, which tests/wine/prepare-prefix.sh lays out first.
Each block starts from the machine of scripts/demo-windows.sh: release 2.1.0,
the 1056 MB minimum, the two sample pools, VLMRMON running and its
service.log empty; EXE is C:\Program Files\Halvorn\snapreserve\snapreserve.exe,
that folder on PATH. Each "C:\>" line runs in C:\ through cmd.exe, its output
without CR and bell; `echo %ERRORLEVEL%` gives the status of the line before
it. Where Wine cannot prepare the prefix, the run ends with 77 (skipped).
"""
import difflib
import os
import shutil
import subprocess
import sys
import tempfile


def examples(page, prompt="$ "):
    lines = open(page, encoding="utf-8").read().split("\n")
    start = None
    for number, line in enumerate(lines, 1):
        if not line.startswith("```"):
            continue
        if start is None:
            start = number
            continue
        block = lines[start:number - 1]
        if block and block[0].startswith(prompt):
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


WINDOWS_PROMPT = "C:\\>"
INSTALLED = "C:\\Program Files\\Halvorn\\snapreserve"
SAMPLE_REG = "\r\n".join([
    "Windows Registry Editor Version 5.00", "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Corridan\\Versions]", '"VLMR"="2.1.0"', "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies]",
    '"MinFreespacePerPool"=dword:00000420', "", ""])
POOLS = ("Pool name        Capacity(MB)  Free(MB)\n---------------  ------------  --------\n"
         "PoolA            20000         8000\nPoolB            5000          3000\n")
END = "snapreserve-example-ended-with"


class Wine:
    """The prefix of the Windows examples, laid out afresh for each block."""

    def __init__(self, exe, sim, source, prefix):
        self.loader = os.environ.get("WINE", "wine")
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINELOADER=self.loader,
                        WINEPATH=INSTALLED)
        self.prepare = [os.path.join(source, "tests", "wine", "prepare-prefix.sh")]
        prepared = subprocess.run(self.prepare + [prefix, sim], env=self.env)
        self.prefix = prefix
        self.ready = prepared.returncode == 0
        if not self.ready:
            return
        drive = os.path.join(prefix, "drive_c")
        self.product = os.path.join(drive, "Program Files", "Halvorn", "Velmora 2.0")
        with open(os.path.join(self.product, "pools.txt"), "w") as pools:
            pools.write(POOLS)
        with open(os.path.join(drive, "sample.reg"), "wb") as reg:
            reg.write(SAMPLE_REG.encode("utf-16"))
        installed = os.path.join(drive, "Program Files", "Halvorn", "snapreserve")
        os.makedirs(installed, exist_ok=True)
        shutil.copy(exe, os.path.join(installed, "snapreserve.exe"))

    def stop(self):
        subprocess.run(self.prepare + ["--stop", self.prefix], env=self.env)

    def cmd(self, line):
        done = subprocess.run([self.loader, "cmd", "/c", line], env=self.env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        return done.stdout.decode("latin-1").replace("\r", "").replace("\a", "")

    def run(self, block):
        self.cmd("reg delete HKLM\\SOFTWARE\\Halvorn /reg:32 /f >NUL 2>&1 & "
                 "reg import C:\\sample.reg /reg:32 >NUL 2>&1 & net start VLMRMON >NUL 2>&1")
        open(os.path.join(self.product, "service.log"), "w").close()
        shown, status = [], 0
        for line in block:
            if not line.startswith(WINDOWS_PROMPT):
                continue
            shown.append(line)
            command = line[len(WINDOWS_PROMPT):]
            if "%ERRORLEVEL%" in command:
                command = "call " + command.replace("%ERRORLEVEL%", "%^ERRORLEVEL%")
            text = self.cmd("cd /d C:\\ && cmd /c exit %d & %s& call echo %s %%^ERRORLEVEL%%"
                            % (status, command, END))
            text, _, ending = text.rpartition(END + " ")
            status = int(ending.split()[0])
            shown.extend(text.split("\n")[:-1])
        return shown


def main(tool, sim, source, *pages):
    failed = ran = 0
    prompt, run_block = "$ ", lambda block: run(block, tool, sim, source)
    if tool == "--windows":
        (tool, sim, source, prefix), pages = (sim, source) + pages[:2], pages[2:]
        wine = Wine(tool, sim, source, prefix)
        if not wine.ready:
            print("Wine cannot run the Windows program here: the Windows examples are skipped")
            return 77
        prompt, run_block = WINDOWS_PROMPT, wine.run
    for page in pages:
        for line, block in examples(os.path.join(source, page), prompt):
            ran += 1
            shown = run_block(block)
            if shown != block:
                failed += 1
                print("%s:%d: the example differs from what the tool prints:" % (page, line))
                sys.stdout.writelines(d + "\n" for d in difflib.unified_diff(
                    block, shown, "the page", "the tool", lineterm=""))
    if prompt == WINDOWS_PROMPT:
        wine.stop()
    print("%d examples, %d differ" % (ran, failed))
    return 1 if failed or not ran else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
