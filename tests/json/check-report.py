#!/usr/bin/python3
"""Checks what snapreserve --json printed on standard output:

    check-report.py SCHEMA OUTPUT [EXPECTED]

OUTPUT must be ASCII, one JSON document laid out as the tool lays it out
(two spaces a level, every control character as a \\u escape, one line end
after it) and valid against SCHEMA (draft 2020-12); with EXPECTED, a file
holding a JSON document, it must hold the same fields, in the same order,
with the same values. Says what is wrong and exits 1 otherwise.
"""
import json
import re
import sys

import jsonschema


def fail(message):
    print(message)
    sys.exit(1)


def in_order(text):
    return json.loads(text, object_pairs_hook=lambda pairs: ["{}", pairs])


def laid_out(document):
    text = json.dumps(document, indent=2, ensure_ascii=True)
    short = {"b": "\\u0008", "f": "\\u000c", "n": "\\u000a", "r": "\\u000d", "t": "\\u0009"}
    return re.sub(r'\\\\|\\([bfnrt])', lambda m: short[m.group(1)] if m.group(1) else m.group(0),
                  text) + "\n"


def main():
    if len(sys.argv) not in (3, 4):
        fail(__doc__)
    with open(sys.argv[1], encoding="ascii") as schema_file:
        schema = json.load(schema_file)
    with open(sys.argv[2], "rb") as output_file:
        raw = output_file.read()
    if any(byte > 0x7E or (byte < 0x20 and byte not in (0x0A, 0x0D)) for byte in raw):
        fail("the output holds a byte that is not printable ASCII: %r" % raw)
    text = raw.decode("ascii").replace("\r\n", "\n")
    try:
        document = json.loads(text)
    except ValueError as error:
        fail("the output is not one JSON document (%s): %r" % (error, text))
    if text != laid_out(document):
        fail("the output is not laid out as the tool lays it out:\n%s\nbut:\n%s" %
             (text, laid_out(document)))
    errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(document), key=str)
    if errors:
        fail("the output does not meet the schema:\n" + "\n".join(
            "%s: %s" % ("/".join(map(str, error.absolute_path)), error.message)
            for error in errors))
    if len(sys.argv) == 4:
        with open(sys.argv[3], encoding="ascii") as expected_file:
            expected = expected_file.read()
        if in_order(text) != in_order(expected):
            fail("expected:\n%s\nbut the tool printed:\n%s" %
                 (json.dumps(json.loads(expected), indent=2), text))


main()
