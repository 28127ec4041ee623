#!/usr/bin/env python3
"""Every printable ASCII character, in the server and in the password, through every road by which
a link reaches the game; the table of what arrives, as docs/links.md shows it.

  link_table.py links ROAD [--gvariant]    the sample links for ROAD, a line each [as GVariant]
  link_table.py neutral < HANDED           the texts handed on, without their roads' letters
  link_table.py table OUTCOMES ROAD=FILE…  the measured table (Markdown) on standard output
  link_table.py check DOC MEASURED         fails, with the difference, unless DOC holds MEASURED
  link_table.py write DOC MEASURED         puts MEASURED into DOC
  link_table.py arriving DOC ROAD          how many of ROAD's samples DOC says arrive somewhere

Each sample link carries an id (q, two digits, s or p, and the road's first letter) in the field
under test, so an arrival is found whatever a road did to the rest, and one that came late from
another road is caught. A ROAD's FILE holds either what the road handed to the desktop entry, a
link a line in any order (the program's outcome for each is then looked up in OUTCOMES, made by
link_outcomes run), or, when named "outcomes:FILE", the outcome of each sample in order
(link_outcomes open). A line "browser URL" is a web browser started at URL instead, by a road
that did not take the link for ours. A measurement that went wrong fails; it is never a row of
the table.
"""
import difflib
import re
import sys

BEGIN = "<!-- measured: begin -->"
END = "<!-- measured: end -->"
# Letters and digits travel together: a road that changed one would show in its group.
GROUPS = ["ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz", "0123456789"]
OTHERS = [chr(code) for code in range(0x21, 0x7F) if not chr(code).isalnum()]
# Where a character's place in the field matters to the program, it is also sent first.
AT_THE_START = "-@"


def samples(road):
    """(label, field under test, its text), the text holding the sample's id."""
    rows = [(f"{group[0]}–{group[-1]}", f"{{id}}{group}1") for group in GROUPS]
    # A port after ":", one no browser refuses as a port of another service.
    rows += [(c, f"{{id}}{c}27960" if c == ":" else f"{{id}}{c}1") for c in [" "] + OTHERS]
    rows += [(f"{c} first", f"{c}{{id}}") for c in AT_THE_START]
    rows.append(("%41", "{id}%411"))
    for number, (label, text) in enumerate(rows):
        for field in ("server", "password"):
            yield label, field, text.replace("{id}", f"q{number:02d}{field[0]}{road[0].lower()}")


def link(field, text):
    return f"quarrion://{text}/p" if field == "server" else f"quarrion://h/{text}"


def sample_id(text):
    found = re.search(r"q\d\d[sp][a-z]", text)
    return found.group(0) if found else None


def cell(field, text, outcome):
    """What the game got, against what the link meant."""
    text, outcome = neutral(text), neutral(outcome)
    if outcome in ("refused", "nothing"):
        return outcome
    if outcome.startswith("browser "):
        return "web browser at " + shown(outcome.removeprefix("browser ").replace(sample_id(text), "a"))
    meant = {"server": text, "password": "p"} if field == "server" else {"server": "h", "password": text}
    got = re.fullmatch(r"game \+connect (.*?)(?: \+pass (.*))?", outcome)
    if not got:
        raise SystemExit(f"not an outcome: {outcome!r} for {text!r}")
    arrived = {"server": got.group(1), "password": got.group(2)}
    if arrived == meant:
        return "✓"
    other = "password" if field == "server" else "server"
    said = shown(arrived[field]) if arrived[field] is not None else f"no {field}"
    if arrived[other] != meant[other]:
        said += f", {other} " + (shown(arrived[other]) if arrived[other] is not None else "none")
    return said.replace(sample_id(text), "a")


def shown(text):
    return f"`` {text} ``" if "`" in text else f"`{text}`"


def as_sent(text):
    return shown(text.replace(sample_id(text), "a"))


def neutral(handed):
    """The text without its road: the program's outcome is the same for every road's copy."""
    return re.sub(r"(q\d\d[sp])[a-z]", r"\1a", handed, count=1)


def arrivals(title, lines, program):
    """The program's outcome for each sample id that the road handed on."""
    outcomes = {}
    for handed in lines:
        found = sample_id(handed)
        if handed.startswith("split "):
            raise SystemExit(f"{title} split a link into arguments: {handed[6:]!r}")
        if not found or found[-1] != title[0].lower() or found in outcomes:
            raise SystemExit(f"{title}: handed on {handed!r}, which is not one of its samples, or twice")
        outcomes[found] = handed if handed.startswith("browser ") else program[neutral(handed)]
    if not outcomes:
        raise SystemExit(f"{title} handed on no link at all")
    return outcomes


def table(outcomes_file, roads):
    program = dict(line.rstrip("\n").split("\t", 1) for line in open(outcomes_file, encoding="utf-8"))
    columns = {}
    for road in roads:
        title, source = road.split("=", 1)
        sent = list(samples(title))
        lines = [line.rstrip("\n") for line in open(source.removeprefix("outcomes:"), encoding="utf-8")]
        if source.startswith("outcomes:"):
            if len(lines) != len(sent):
                raise SystemExit(f"{title}: {len(lines)} outcomes for {len(sent)} links")
            outcomes = dict(zip((sample_id(text) for _, _, text in sent), lines))
        else:
            outcomes = arrivals(title, lines, program)
        for found, outcome in outcomes.items():
            if not outcome or outcome.startswith("error"):
                raise SystemExit(f"{title}, sample {found}: the measurement failed: {outcome}")
        columns[title] = {
            (label, field): cell(field, text, outcomes.get(sample_id(text), "nothing"))
            for label, field, text in sent
        }
    rows = {label: as_sent(text) for label, _, text in samples("any")}
    same = [label for label in rows if all(column[(label, f)] == "✓" for column in columns.values() for f in ("server", "password"))]
    out = [BEGIN, "", "| Sent | " + " | ".join(columns) + " |", "|---" * (len(columns) + 1) + "|"]
    for label, text in rows.items():
        if label in same:
            continue
        cells = [text]
        for column in columns.values():
            server, password = column[(label, "server")], column[(label, "password")]
            cells.append(server if server == password else f"server: {server}; password: {password}")
        # A bar in a cell, even in code, would end the cell.
        out.append("| " + " | ".join(c.replace("|", "\\|") for c in cells) + " |")
    out += ["", "Unchanged on every road, in the server and in the password: "
            + ", ".join(shown(label) if len(label) == 1 else label for label in same) + ".", "", END]
    return "\n".join(out) + "\n"


def arriving(doc, road):
    """How many of ROAD's samples the table in DOC shows arriving, at the game or a browser."""
    text, start, end = section(doc)
    lines = [line.strip() for line in text[start:end].splitlines() if line.startswith("| ")]
    split = [re.split(r"(?<!\\) \| ", line.strip("| ")) for line in lines]
    column = split[0].index(road)
    cells = {row[0].replace("\\|", "|"): row[column].replace("\\|", "|") for row in split[2:]}
    count = 0
    for label, field, sample in samples(road):
        said = cells.get(as_sent(sample), "✓")
        both = re.fullmatch(r"server: (.*); password: (.*)", said)
        count += (both.group(1 if field == "server" else 2) if both else said) != "nothing"
    return count


def section(doc):
    text = open(doc, encoding="utf-8").read()
    start, end = text.index(BEGIN), text.index(END) + len(END) + 1
    return text, start, end


def main(argv):
    if argv[:1] == ["links"] and len(argv) in (2, 3):
        for _, field, text in samples(argv[1]):
            sample = link(field, text)
            if argv[2:] == ["--gvariant"]:  # as gdbus call reads a string argument
                sample = "'" + sample.replace("\\", "\\\\").replace("'", "\\'") + "'"
            print(sample)
    elif argv == ["neutral"]:
        for handed in sys.stdin.read().splitlines():
            print(neutral(handed))
    elif argv[:1] == ["table"] and len(argv) >= 3:
        sys.stdout.write(table(argv[1], argv[2:]))
    elif argv[:1] == ["arriving"] and len(argv) == 3:
        print(arriving(argv[1], argv[2]))
    elif argv[:1] in (["check"], ["write"]) and len(argv) == 3:
        text, start, end = section(argv[1])
        measured = open(argv[2], encoding="utf-8").read()
        if argv[0] == "write":
            open(argv[1], "w", encoding="utf-8").write(text[:start] + measured + text[end:])
        elif text[start:end] != measured:
            sys.stdout.writelines(difflib.unified_diff(
                text[start:end].splitlines(True), measured.splitlines(True), argv[1], "measured"))
            return 1
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
