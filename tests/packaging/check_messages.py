#!/usr/bin/env python3
"""Checks that docs/messages.md lists every line the checker can print.

The printed texts are taken from the sources of the checker proper
(src/driver, src/recmgr, src/dictionary, src/checker): every string literal
that holds a line feed, and every literal that is the format of a
PrintToStream or PrintToStdout call. Adjacent literals are joined, escapes
are decoded, and each non-empty line of the result must appear in the
catalogue as a code span, byte for byte (`like this`). Formats made only of
conversions ("%s", "%c%c") carry no text and are skipped.

Usage: check_messages.py SOURCE_DIR
Exits 1 and names every missing line, or the catalogue, when one is missing.
"""
import re
import sys
from pathlib import Path

AREAS = ("src/driver", "src/recmgr", "src/dictionary", "src/checker")
SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "\\": "\\", '"': '"', "'": "'", "b": "\b", "0": "\0"}


def tokens(text):
    """Yields ('str', value) for string literals and ('code', text) otherwise,
    skipping comments and character literals."""
    i, n = 0, len(text)
    code_start = 0
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            i = n if j < 0 else j + 2
            continue
        if c == "'":
            j = i + 1
            while j < n and text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            continue
        if c == '"':
            yield ("code", text[code_start:i])
            j = i + 1
            value = []
            while j < n and text[j] != '"':
                if text[j] == "\\":
                    esc = text[j + 1]
                    if esc == "x":
                        m = re.match(r"[0-9a-fA-F]+", text[j + 2:])
                        value.append(chr(int(m.group(0), 16)))
                        j += 2 + len(m.group(0))
                        continue
                    value.append(SIMPLE_ESCAPES.get(esc, esc))
                    j += 2
                else:
                    value.append(text[j])
                    j += 1
            yield ("str", "".join(value))
            i = j + 1
            code_start = i
            continue
        i += 1
    yield ("code", text[code_start:])


def printed_texts(source):
    """The texts of one source file that reach the console."""
    found = []
    pending = None  # joined adjacent literals
    before = ""  # code just before the pending literal
    for kind, value in tokens(source):
        if kind == "str":
            if pending is None:
                pending = value
            else:
                pending += value
            continue
        if pending is not None and value.strip() != "":
            is_format = re.search(r"PrintTo(Stream\s*\(\s*std(out|err)\s*,|Stdout\s*\()\s*$", before)
            if "\n" in pending or is_format:
                found.append(pending)
            pending = None
        if pending is None:
            before = value
    if pending is not None and "\n" in pending:
        found.append(pending)
    return found


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    catalogue_path = root / "docs" / "messages.md"
    if not catalogue_path.is_file():
        print(f"missing catalogue: {catalogue_path}")
        return 1
    catalogue = catalogue_path.read_text(encoding="utf-8")

    missing = []
    checked = 0
    for area in AREAS:
        for path in sorted((root / area).rglob("*")):
            if path.suffix not in (".cpp", ".h") or not path.is_file():
                continue
            for text in printed_texts(path.read_text(encoding="utf-8")):
                for line in text.split("\n"):
                    if line == "" or re.fullmatch(r"(%[-+ #0-9.]*[a-z]+)+", line):
                        continue
                    checked += 1
                    if f"`{line}`" not in catalogue:
                        missing.append(f"{path.relative_to(root)}: `{line}`")
    if checked == 0:
        print("no printed text found in the sources: the extraction is broken")
        return 1
    if missing:
        print("docs/messages.md lacks these printed lines:")
        for m in missing:
            print("  " + m)
        return 1
    print(f"docs/messages.md lists all {checked} printed lines")
    return 0


if __name__ == "__main__":
    sys.exit(main())
