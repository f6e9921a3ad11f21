#!/usr/bin/env python3
"""The message catalogue's maintenance, with the standard gettext tools.

  catalogue.py extract OUT.pot   every marked text of the tool and the help pages
  catalogue.py update            regenerate i18n/cardsetup.pot, merge it into each i18n/*.po
  catalogue.py check             fail when a text has no translation, a translation drops or
                                 adds a placeholder, or a Chinese literal in src/ is not marked

Texts are marked in the code with Tr("...") and TR_NOOP("...") (core) and T("...") (windows);
the help pages are read by po4a. A Chinese literal that must stay as it is (a wire line, a
file's or an INI file's content) carries a comment with the word "untranslated" on its line.
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KEYWORDS = ["Tr", "TR_NOOP", "T"]
# Calls whose first argument is a context (msgctxt) and whose second is the text.
CONTEXT_KEYWORDS = ["TrC", "TC", "TRC_NOOP"]
CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
# printf directives (with flags, width, precision and length) and Qt's %1..%99.
PRINTF = re.compile(r"%(?:%|[-+ #0]*(?:\d+|\*)?(?:\.(?:\d+|\*))?(?:hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp])")
QT_ARG = re.compile(r"%\d{1,2}")


def sources(root):
    out = []
    for folder, _, files in os.walk(os.path.join(root, "src")):
        for name in files:
            if name.endswith((".cpp", ".h")):
                out.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(out)


def help_pages(root):
    folder = os.path.join(root, "help")
    return sorted(os.path.join("help", n) for n in os.listdir(folder) if n.endswith(".html"))


def run(cmd, cwd):
    done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit("%s failed:\n%s%s" % (cmd[0], done.stdout, done.stderr))


def extract(root, out):
    with tempfile.TemporaryDirectory() as tmp:
        code = os.path.join(tmp, "code.pot")
        pages = os.path.join(tmp, "help.pot")
        run(["xgettext", "--language=C++", "--from-code=UTF-8", "--sort-by-file", "--no-wrap",
             "--add-comments=TRANSLATORS:", "--package-name=cardsetup"]
            + ["--keyword=" + k for k in KEYWORDS] + ["--keyword=%s:1c,2" % k for k in CONTEXT_KEYWORDS]
            + ["-o", code] + sources(root), root)
        cmd = ["po4a-updatepo", "-f", "xhtml", "-M", "UTF-8", "--wrap-po", "no", "-p", pages]
        for page in help_pages(root):
            cmd += ["-m", page]
        run(cmd, root)
        parts = [p for p in (code, pages) if os.path.exists(p)]
        run(["msgcat", "--no-wrap", "--use-first", "-o", out] + parts, root)


def parse_po(path):
    """Entries of a .po file: (context, msgid) -> {"str": msgstr, "fuzzy": bool}."""
    entries = {}
    cur = None
    field = None

    def flush():
        if cur and "msgid" in cur and not cur.get("obsolete"):
            key = (cur.get("msgctxt"), cur["msgid"])
            entries[key] = {"str": cur.get("msgstr", ""), "fuzzy": cur.get("fuzzy", False)}

    def unquote(s):
        s = s.strip()
        assert s.startswith('"') and s.endswith('"'), s
        return bytes(s[1:-1], "utf-8").decode("unicode_escape").encode("latin-1").decode("utf-8")

    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line.strip():
                flush()
                cur, field = None, None
                continue
            if cur is None:
                cur = {}
            if line.startswith("#~"):
                cur["obsolete"] = True
            elif line.startswith("#,"):
                cur["fuzzy"] = "fuzzy" in line
            elif line.startswith("#"):
                pass
            elif line.startswith('"'):
                cur[field] = cur.get(field, "") + unquote(line)
            else:
                key, _, rest = line.partition(" ")
                if key.startswith("msgstr["):
                    key = "msgstr" if key == "msgstr[0]" else "msgstr_plural"
                field = key
                cur[field] = unquote(rest)
    flush()
    return entries


def placeholders(text):
    return sorted(PRINTF.findall(text)) + sorted(QT_ARG.findall(PRINTF.sub("", text)))


def strip_comments_keep_strings(text):
    """Yields (line number, literal text, is it marked, is the line annotated) for every
    string literal of a C++ source, with comments skipped."""
    marked_call = re.compile(r"\b(?:(?:%s)\s*\(|(?:%s)\s*\(\s*\"[^\"]*\"\s*,)\s*(?:u8|u)?$"
                             % ("|".join(KEYWORDS), "|".join(CONTEXT_KEYWORDS)))
    i, n, line = 0, len(text), 1
    lines = text.split("\n")
    out = []
    last_code = ""  # code before the literal on its line (for the marker test)
    pending_marked = False
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
            continue
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            line += text.count("\n", i, n if j < 0 else j)
            i = n if j < 0 else j + 2
            continue
        if c == "'":
            j = i + 1
            while j < n and text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            continue
        if text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            k = text.find("(", i)
            delim = ")" + text[i + 2:k] + '"'
            j = text.find(delim, k)
            literal = text[k + 1:j]
            out.append((line, literal, False))
            line += literal.count("\n")
            i = j + len(delim)
            continue
        if c == '"':
            j = i + 1
            while j < n and text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            literal = text[i + 1:j]
            before = text[max(0, i - 80):i]
            # A literal right after Tr( / T( / TR_NOOP( or after another literal of
            # the same marked call (adjacent literals are one string).
            is_marked = bool(marked_call.search(before)) or (
                pending_marked and re.search(r'"\s*$', before) is not None)
            pending_marked = is_marked
            out.append((line, literal, is_marked))
            i = j + 1
            continue
        if not c.isspace():
            pending_marked = False
        i += 1
    return [(ln, lit, mk, "untranslated" in lines[ln - 1] or (ln > 1 and "untranslated" in lines[ln - 2]))
            for ln, lit, mk in out]


def unmarked_literals(root):
    problems = []
    for path in sources(root):
        with open(os.path.join(root, path), encoding="utf-8") as f:
            text = f.read()
        for line, literal, is_marked, annotated in strip_comments_keep_strings(text):
            if CJK.search(literal) and not is_marked and not annotated:
                problems.append("%s:%d: Chinese text not in the catalogue: \"%s\"" % (path, line, literal))
    return problems


def check(root):
    problems = unmarked_literals(root)
    with tempfile.TemporaryDirectory() as tmp:
        pot = os.path.join(tmp, "cardsetup.pot")
        extract(root, pot)
        wanted = [k for k in parse_po(pot) if k[1]]
    catalogues = sorted(n for n in os.listdir(os.path.join(root, "i18n")) if n.endswith(".po"))
    if not catalogues:
        problems.append("i18n/: no catalogue")
    for name in catalogues:
        lang = name[:-3]
        entries = parse_po(os.path.join(root, "i18n", name))
        for key in wanted:
            source = key[1]
            entry = entries.get(key)
            where = "i18n/%s: \"%s\"" % (name, source)
            if entry is None or not entry["str"]:
                problems.append(where + ": no translation")
            elif entry["fuzzy"]:
                problems.append(where + ": translation marked fuzzy")
            elif placeholders(source) != placeholders(entry["str"]):
                problems.append(where + ": placeholders %s became %s" % (placeholders(source), placeholders(entry["str"])))
            elif lang == "en" and CJK.search(entry["str"]) and CJK.search(source) and entry["str"] == source:
                problems.append(where + ": left in Chinese")
    for p in problems:
        print(p)
    print("%d texts, %d catalogues, %d problems" % (len(wanted), len(catalogues), len(problems)))
    return 1 if problems else 0


def update(root):
    pot = os.path.join(root, "i18n", "cardsetup.pot")
    extract(root, pot)
    for name in sorted(os.listdir(os.path.join(root, "i18n"))):
        if name.endswith(".po"):
            po = os.path.join(root, "i18n", name)
            run(["msgmerge", "--quiet", "--update", "--backup=none", "--no-wrap", "--no-fuzzy-matching", po, pot], root)
    return 0


def main(argv):
    root = ROOT
    if "--source" in argv:
        k = argv.index("--source")
        root = argv[k + 1]
        del argv[k:k + 2]
    if len(argv) >= 2 and argv[1] == "extract" and len(argv) == 3:
        extract(root, os.path.abspath(argv[2]))
        return 0
    if len(argv) == 2 and argv[1] == "update":
        return update(root)
    if len(argv) == 2 and argv[1] == "check":
        return check(root)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
