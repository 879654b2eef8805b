#!/usr/bin/env python3
"""A large registry export for scripts/bench.sh, and the naive reading it is
measured against. Standard library only.

  registry_export.py generate FILE   writes a UTF-16 export shaped like a
                                     server's HKLM\\SOFTWARE: 60,000 keys of
                                     vendors' products, each with a path, a
                                     version, a DWORD and binary data continued
                                     over lines, the product's own keys in the
                                     middle; the same bytes on every run
  registry_export.py parse FILE      reads the whole file into dictionaries,
                                     key -> value name -> data, and prints the
                                     seconds that took (the interpreter's own
                                     start not counted)
"""

import sys
import time

KEYS = 60000
PRODUCT_KEYS = [
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Corridan\\Versions]",
    '"VLMR"="2.1.0"',
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0]",
    '"InstallDir"="C:\\\\Program Files (x86)\\\\Halvorn\\\\Velmora 2.0"',
    "",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvorn\\Velmora\\2.0\\Policies]",
    '"MinFreespacePerPool"=dword:00000420',
    "",
]


def generate(path):
    seed = 20240607

    def below(n):
        nonlocal seed
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        return (seed >> 8) % n

    lines = ["Windows Registry Editor Version 5.00", ""]
    for i in range(KEYS):
        if i == KEYS * 2 // 5:
            lines += PRODUCT_KEYS
        vendor = i // 600
        lines.append("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor%03d\\Product%02d\\Component%d\\Settings]"
                     % (vendor, (i // 40) % 15, i))
        lines.append('"InstallLocation"="C:\\\\Program Files\\\\Vendor%03d\\\\Product %d\\\\bin"'
                     % (vendor, i % 97))
        lines.append('"Version"="%d.%d.%d"' % (below(20), below(100), below(10000)))
        lines.append('"Flags"=dword:%08x' % below(1 << 30))
        # Binary data as the registry editor writes it: lines of at most 80
        # characters, each but the last ending with a backslash.
        items = ["%02x" % below(256) for _ in range(8 + below(48))]
        line = '"Data"=hex:'
        for n, item in enumerate(items):
            piece = item + ("," if n < len(items) - 1 else "")
            if len(line) + len(piece) > 77:
                lines.append(line + "\\")
                line = "  "
            line += piece
        lines.append(line)
        lines.append("")
    text = "\r\n".join(lines) + "\r\n"
    with open(path, "wb") as out:
        out.write(b"\xff\xfe" + text.encode("utf-16-le"))


def parse(path):
    start = time.perf_counter()
    with open(path, "rb") as f:
        raw = f.read()
    if raw[:2] == b"\xff\xfe":
        text = raw[2:].decode("utf-16-le")
    else:
        text = raw.decode("utf-8", "surrogateescape")
    keys = {}
    values = None
    pending = ""
    for line in text.splitlines():
        line = pending + line.strip()
        pending = ""
        if line.endswith("\\"):
            pending = line[:-1]
            continue
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            values = keys.setdefault(line[1:-1].lower(), {})
        elif values is not None and "=" in line:
            name, _, data = line.partition("=")
            values[name.strip('"').lower()] = data
    seconds = time.perf_counter() - start
    if "vlmr" not in keys.get("hkey_local_machine\\software\\halvorn\\corridan\\versions", {}):
        sys.exit("no release in " + path)
    print("%.6f" % seconds)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("generate", "parse"):
        sys.exit(__doc__)
    (generate if sys.argv[1] == "generate" else parse)(sys.argv[2])
