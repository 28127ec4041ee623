#!/usr/bin/env python3
"""check-languages.py NSIS_LANGUAGES OURS LANGUAGES SCRIPT...: fails, naming each, when a language
of LANGUAGES (names separated by ;) lacks a text that setup shows.

Setup's pages (those SCRIPT... insert) take NSIS' texts from its language file, NSIS_LANGUAGES/
<Name>.nsh, where English has them all and some languages not every one: what a language's file
lacks, OURS/nsis/<Name>.nsh gives (a !define each, read before NSIS' file). Our own texts are
OURS/<Name>.nsh, a LangString for each of English.nsh's. makensis would fall back to English for
what is missing, a warning the build takes as an error, and stop at the first one: here, all at
once, with where each belongs.
"""
import os
import re
import sys


def used_conditions(scripts):
    """The defines NSIS' language files test that these scripts set: a page each, and MUI_ options."""
    found = set()
    for script in scripts:
        text = open(script, encoding="utf-8-sig").read()
        for kind, un, page in re.findall(r"!insertmacro\s+(MUI|MULTIUSER)_(UN)?PAGE_(\w+)", text):
            found.add(f"{kind}_{un}{page}PAGE")
        found.update(re.findall(r"^\s*!define\s+(MUI_\w+)", text, re.M))
    return found


def nsis_texts(path, defined=None):
    """The texts an NSIS language file sets; with DEFINED, only those its !ifdef's let through."""
    texts, outer, taken = [], [], True
    for line in open(path, encoding="utf-8-sig", errors="replace"):
        words = line.split(";", 1)[0].split()
        if not words:
            continue
        if words[0] in ("!ifdef", "!ifndef"):
            names = [w for w in words[1:] if w not in ("|", "&")]
            holds = (all if "&" in words else any)(name in (defined or ()) for name in names)
            holds = defined is None or holds == (words[0] == "!ifdef")
            outer.append((taken, holds))
            taken = taken and holds
        elif words[0] == "!else":
            taken = outer[-1][0] and (defined is None or not outer[-1][1])
        elif words[0] == "!endif":
            taken = outer.pop()[0]
        elif words[0] == "${LangFileString}" and taken:
            texts.append(words[1])
    return texts


def defines(path):
    if not os.path.exists(path):
        return []
    return re.findall(r"^\s*!define\s+(\w+)", open(path, encoding="utf-8-sig").read(), re.M)


def lang_strings(path):
    """(name, language constant) of each LangString."""
    return re.findall(r"^\s*LangString\s+(\w+)\s+\$\{(\w+)\}", open(path, encoding="utf-8-sig").read(), re.M)


def main(nsis, ours, languages, scripts):
    languages = languages.split(";")
    shown = used_conditions(scripts)
    needed = nsis_texts(os.path.join(nsis, "English.nsh"), shown)
    our_texts = [name for name, _ in lang_strings(os.path.join(ours, "English.nsh"))]
    if not needed or not our_texts:
        return [f"no texts found in {nsis}/English.nsh or {ours}/English.nsh"]
    faults = []
    for name in languages:
        mine = os.path.join(ours, f"{name}.nsh")
        gaps = os.path.join(ours, "nsis", f"{name}.nsh")
        if not os.path.exists(os.path.join(nsis, f"{name}.nsh")):
            faults.append(f"{name}: NSIS has no language of that name (its files: {nsis})")
            continue
        theirs = set(nsis_texts(os.path.join(nsis, f"{name}.nsh")))
        lacking = [text for text in needed if text not in theirs and text not in defines(gaps)]
        if lacking:
            faults.append(f"{name}: NSIS' own {name}.nsh lacks {', '.join(lacking)}: give them in "
                          f"installer/languages/nsis/{name}.nsh, a !define each (English: {nsis}/English.nsh)")
        spare = [text for text in defines(gaps) if text in theirs or text not in needed]
        if spare:
            faults.append(f"{name}: installer/languages/nsis/{name}.nsh gives {', '.join(spare)}, which "
                          "NSIS' own file has, or setup does not show")
        constant = f"LANG_{name.upper()}"
        strings = lang_strings(mine)
        wrong = sorted({language for _, language in strings if language != constant})
        if wrong:
            faults.append(f"{name}: installer/languages/{name}.nsh sets texts for {', '.join(wrong)}, not {constant}")
        lacking = [text for text in our_texts if text not in {n for n, _ in strings}]
        if lacking:
            faults.append(f"{name}: installer/languages/{name}.nsh lacks {', '.join(lacking)} (see English.nsh)")
    for path in sorted(os.listdir(os.path.join(ours, "nsis"))) if os.path.isdir(os.path.join(ours, "nsis")) else []:
        if path.removesuffix(".nsh") not in languages:
            faults.append(f"installer/languages/nsis/{path} is not a language of QUARRION_LANGUAGES")
    return faults


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    faults = main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:])
    for fault in faults:
        print(f"languages: {fault}", file=sys.stderr)
    sys.exit(1 if faults else 0)
