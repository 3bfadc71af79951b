#!/usr/bin/env python3
"""Compiles the message catalogs (po/ja.po, po/en.po) into a C++ table, so that every program
carries its texts in both languages and looks nothing up at run time.

Each entry is keyed by its msgctxt; the msgid is the English source text (with its placeholders,
which msgfmt --check compares with each translation), the msgstr the text in the catalog's
language. Both catalogs must hold the same keys, every entry translated: a key in one catalog and
not the other, an empty msgstr or a key given twice stops the build with the file and line.

    catalog.py OUTPUT.cpp ja.po en.po     write the table
    catalog.py --check ja.po en.po        only check the catalogs
"""
import sys

ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\", "a": "\a", "b": "\b",
           "f": "\f", "v": "\v"}


class CatalogError(Exception):
    pass


def unquote(text, where):
    text = text.strip()
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        raise CatalogError(f"{where}: a string in double quotes was expected")
    body, out, i = text[1:-1], [], 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            if i + 1 >= len(body) or body[i + 1] not in ESCAPES:
                raise CatalogError(f"{where}: unknown escape in {text}")
            out.append(ESCAPES[body[i + 1]])
            i += 2
            continue
        if c == '"':
            raise CatalogError(f"{where}: an unescaped quote in {text}")
        out.append(c)
        i += 1
    return "".join(out)


def read_po(path):
    """The catalog's entries as {key: (msgid, msgstr, line)}; the header entry is left out."""
    entries = {}
    current, field, start = {}, None, 0

    def finish():
        nonlocal current
        if not current:
            return
        if "msgid" not in current or "msgstr" not in current:
            raise CatalogError(f"{path}:{start}: an entry needs a msgid and a msgstr")
        key = current.get("msgctxt")
        if key is None:
            if current["msgid"] != "":
                raise CatalogError(f"{path}:{start}: every entry is keyed by a msgctxt")
        else:
            if key in entries:
                raise CatalogError(f"{path}:{start}: {key} is given twice")
            if current["msgstr"] == "":
                raise CatalogError(f"{path}:{start}: {key} has no translation")
            entries[key] = (current["msgid"], current["msgstr"], start)
        current = {}

    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            stripped = line.strip()
            where = f"{path}:{number}"
            if not stripped:
                finish()
                field = None
                continue
            if stripped.startswith("#"):
                continue
            if stripped.startswith('"'):
                if field is None:
                    raise CatalogError(f"{where}: a string continues no field")
                current[field] += unquote(stripped, where)
                continue
            name, _, rest = stripped.partition(" ")
            if name not in ("msgctxt", "msgid", "msgstr"):
                raise CatalogError(f"{where}: unknown field {name}")
            if name == "msgctxt" or (name == "msgid" and "msgctxt" not in current):
                finish()
                start = number
            if name in current:
                raise CatalogError(f"{where}: {name} twice in one entry")
            current[name] = unquote(rest, where)
            field = name
    finish()
    return entries


def check(ja, en, ja_path, en_path):
    for key in sorted(set(ja) - set(en)):
        raise CatalogError(f"{ja_path}:{ja[key][2]}: {key} is missing from {en_path}")
    for key in sorted(set(en) - set(ja)):
        raise CatalogError(f"{en_path}:{en[key][2]}: {key} is missing from {ja_path}")
    for key in sorted(ja):
        if ja[key][0] != en[key][0]:
            raise CatalogError(f"{ja_path}:{ja[key][2]}: {key} has another msgid than in {en_path}")


def cxx(text):
    out = ['"']
    for c in text:
        code = ord(c)
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "\n":
            out.append("\\n")
        elif c == "\r":
            out.append("\\r")
        elif code < 0x20 or code == 0x7F:
            out.append("\\%03o" % code)
        else:
            out.append(c)
    out.append('"')
    return "".join(out)


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == "--check":
            ja_path, en_path, output = argv[2], argv[3], None
        elif len(argv) == 4:
            output, ja_path, en_path = argv[1], argv[2], argv[3]
        else:
            print(__doc__, file=sys.stderr)
            return 64
        ja, en = read_po(ja_path), read_po(en_path)
        check(ja, en, ja_path, en_path)
    except (CatalogError, OSError, UnicodeDecodeError) as error:
        print(f"catalog.py: {error}", file=sys.stderr)
        return 1
    if output is None:
        return 0
    lines = ["// Made by resources/catalog.py from the catalogs po/ja.po and po/en.po: edit those.",
             '#include "resources/CatalogData.h"', "", "namespace vexil::catalog {", "",
             "const Entry kEntries[] = {"]
    for key in sorted(ja):
        lines.append(f"    {{{cxx(key)}, {cxx(ja[key][1])}, {cxx(en[key][1])}}},")
    lines += ["};", "", "const std::size_t kEntryCount = sizeof(kEntries) / sizeof(kEntries[0]);",
              "", "}  // namespace vexil::catalog", ""]
    text = "\n".join(lines)
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
