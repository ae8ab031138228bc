#!/usr/bin/python3
"""Keeps the guides and manual pages in step with the programs.

    check_docs.py --hv52ctl PATH --source DIR

Fails, naming every gap, when
  - an option or command that `hv52ctl --help` lists is missing from the
    manual page sources of hv52ctl (English and Chinese), from
    docs/命令行工具.md or from the bash completion (whose sources and relay
    commands are the code's lists); with --hv52sim, an option
    of `hv52sim --help` missing from its manual pages;
  - a source file of the programs' folders is not named in the README's
    Layout section (`folder/name.*`, `folder/name.h`, ...), or the section names a
    file that is not there;
  - a Chinese text that the README's troubleshooting section (模块无应答时)
    names, or that the operator's guide (docs/操作说明.md) quotes, is not
    what the programs' source code emits: a run of Chinese text of one of
    its strings, or several such runs put together where the code fills in
    values between them.
Debian's python3 only.
"""
import argparse
import os
import re
import subprocess
import sys

# Where the programs' texts live (the tests and benchmarks are left out).
CODE_DIRS = ["link", "common", "present", "ctl", "t516", "t540", "t528", "sim"]

# A run of Chinese characters with the full-width punctuation inside it.
CJK_RUN = re.compile(r"[\u3000-\u303f\u3400-\u9fff\uff00-\uffef]+")
# Words the operator's guide uses for the parts of a file name that the
# program fills in (the date and time), not texts the program shows.
PLACEHOLDER_WORDS = {"年月日", "时分", "时分秒", "时", "分", "秒", "毫秒"}


def help_text(program):
    run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=30)
    if run.returncode != 0 or not run.stdout.strip():
        sys.exit(f"{program} --help failed (status {run.returncode}): {run.stderr.strip()}")
    return run.stdout


def options_of(help_out):
    """Every option named anywhere in the help, long and short."""
    options = set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]*)", help_out))
    options |= set(re.findall(r"(?<![\w-])(-[a-zA-Z])(?=[ ,])", help_out))
    return sorted(options)


def commands_of(help_out):
    """The command words of the help's command section: the first word of
    each entry line in the block that starts with "命令"."""
    commands = []
    in_block = False
    for line in help_out.splitlines():
        if line.startswith("命令"):
            in_block = True
            continue
        if in_block:
            if line and not line.startswith(" "):
                break
            m = re.match(r"^  ([a-z][a-z-]*)\b", line)
            if m and m.group(1) not in commands:
                commands.append(m.group(1))
    return commands


def mentions(text, word):
    return re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text) is not None


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def code_strings(source):
    """Every string literal of the programs' C++ sources, one per line;
    comments are skipped (a text quoted in a comment is not shown)."""
    token = re.compile(r'"((?:[^"\\\n]|\\.)*)"|//[^\n]*|/\*.*?\*/|\'(?:[^\'\\\n]|\\.)*\'', re.S)
    out = []
    for d in CODE_DIRS:
        for root, _, files in os.walk(os.path.join(source, d)):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    for m in token.finditer(read(os.path.join(root, name))):
                        if m.group(0).startswith('"'):
                            out.append(m.group(1))
    return "\n".join(out)


class Units:
    """The Chinese texts the code emits whole: the runs of Chinese text of
    its strings (between its values and its Latin text), and for each
    whether a value may follow it (it ends its string, or a %N or a line
    break comes next) or come before it."""

    def __init__(self, literals):
        self.whole, self.open_end, self.open_start = set(), set(), set()
        for literal in literals:
            for m in CJK_RUN.finditer(literal):
                self.whole.add(m.group(0))
                before, after = literal[:m.start()], literal[m.end():]
                if before == "" or re.search(r"(%\d+|\\n)\s*$", before):
                    self.open_start.add(m.group(0))
                if after == "" or re.match(r"^\s*(%\d+|\\n)", after):
                    self.open_end.add(m.group(0))

    def composed(self, run):
        """True when `run` is a concatenation of units, each one followed in
        the run by another only where the code fills in a value after it,
        and preceded by another only where the code fills one in before it
        (a message made of several strings and values, such as
        "继电器1 控制方式：超时无应答"). "复位成功！" is not made of "复位成功!"
        and "！": the code puts nothing after "复位成功" but "!"."""
        if run in self.whole:
            return True
        reach = [True] + [False] * len(run)
        for i in range(len(run)):
            if not reach[i]:
                continue
            for j in range(i + 1, len(run) + 1):
                piece = run[i:j]
                if reach[j]:
                    continue
                if i > 0 and piece not in self.open_start:
                    continue
                if j < len(run) and piece not in self.open_end:
                    continue
                if piece in self.open_start or piece in self.open_end:
                    reach[j] = True
        return reach[len(run)]


def code_list(source, name):
    """The texts of a QStringList defined in link/convert.cpp."""
    text = read(os.path.join(source, "link", "convert.cpp"))
    m = re.search(r"\b" + name + r"\s*=\s*\{(.*?)\};", text, re.S)
    return re.findall(r'QStringLiteral\("([^"]*)"\)', m.group(1)) if m else []


def section(markdown, heading):
    """The lines of a markdown section, from its heading to the next one of
    the same or a higher level."""
    lines = markdown.splitlines()
    level = heading.split(" ")[0]
    for i, line in enumerate(lines):
        if line.strip() == heading:
            body = []
            for rest in lines[i + 1:]:
                m = re.match(r"^(#+) ", rest)
                if m and len(m.group(1)) <= len(level):
                    break
                body.append(rest)
            return body
    return None


def readme_trouble_texts(readme):
    """The Chinese texts of the README's troubleshooting section: the first
    column of its table and the message in its code block."""
    body = section(readme, "## 模块无应答时")
    if body is None:
        return None
    texts = []
    in_code = False
    for line in body:
        if line.startswith("```"):
            in_code = not in_code
            continue
        if in_code:
            texts.append(line)
        elif line.startswith("|") and not re.match(r"^\|[-| ]+\|$", line):
            first = line.split("|")[1]
            if first.strip() != "the monitor shows":
                texts.append(first)
    return texts


def guide_quoted_texts(guide):
    """Every `quoted` text of the operator's guide that holds Chinese."""
    return [q for q in re.findall(r"`([^`\n]+)`", guide) if CJK_RUN.search(q)]


# The folders whose every file the README's Layout section names.
LAYOUT_DIRS = ["link", "common", "present", "kinds", "run", "line", "ctl", "t516", "t540", "t528", "sim"]


def layout_gaps(src):
    """Files of LAYOUT_DIRS that the Layout section does not name, and names
    there of files that are not in the tree."""
    body = section(read(os.path.join(src, "README.md")), "## Layout")
    if body is None:
        return ["README.md: section Layout not found"]
    text = "\n".join(body)
    gaps = []
    for folder in LAYOUT_DIRS:
        names = sorted(f for f in os.listdir(os.path.join(src, folder)) if f.endswith((".cpp", ".h")))
        for name in names:
            stem = name.rsplit(".", 1)[0]
            if not any(f"`{folder}/{form}`" in text for form in (name, stem + ".*")):
                gaps.append(f"README.md Layout: {folder}/{name} is not named")
    for folder, stem, ext in re.findall(r"`(" + "|".join(LAYOUT_DIRS) + r")/([\w]+)\.(\*|cpp|h)`", text):
        there = [f for f in os.listdir(os.path.join(src, folder)) if f.rsplit(".", 1)[0] == stem]
        if not there or (ext != "*" and f"{stem}.{ext}" not in there):
            gaps.append(f"README.md Layout: names {folder}/{stem}.{ext}, which is not in the tree")
    return gaps


def missing_runs(texts, units):
    """The Chinese runs of the texts that the code does not emit: each must
    be one of its units or made of them (a run found only inside a longer
    text of the code does not count: "应答迟到" is not "模块应答迟到：…")."""
    gaps = []
    for text in texts:
        for run in CJK_RUN.findall(text):
            if run in PLACEHOLDER_WORDS or run in "…":
                continue
            if not units.composed(run.strip("…")):
                gaps.append(f"“{run}” (from: {text.strip()})")
    return gaps


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--hv52ctl", required=True)
    ap.add_argument("--hv52sim", help="also check hv52sim --help against its manual pages")
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    src = args.source

    help_out = help_text(args.hv52ctl)
    options = options_of(help_out)
    commands = commands_of(help_out)
    failures = []
    # The help must give something to compare against: a parser that finds
    # nothing would pass every page.
    for need in ("--port", "--json", "--help"):
        if need not in options:
            failures.append(f"hv52ctl --help: option {need} not found by the check's parser")
    if len(commands) < 8:
        failures.append(f"hv52ctl --help: only {commands} found as commands")

    pages = {
        "docs/man/hv52ctl.1.scd": "page",
        "docs/man/zh_CN/hv52ctl.1.scd": "page",
        "docs/命令行工具.md": "guide",
    }
    for rel, kind in pages.items():
        path = os.path.join(src, rel)
        if not os.path.exists(path):
            failures.append(f"{rel}: missing")
            continue
        text = read(path)
        for option in options:
            if not mentions(text, option):
                failures.append(f"{rel}: option {option} of hv52ctl --help is not described")
        for command in commands:
            if kind == "page":
                # A command is described under its own bold entry.
                found = re.search(r"\*" + re.escape(command) + r"\*", text)
            else:
                # A command has a section of its own in the guide:
                # "### read：召测".
                found = re.search(r"^###\s+" + re.escape(command) + "：", text, re.M)
            if not found:
                failures.append(f"{rel}: command {command} of hv52ctl --help is not described")

    # The simulator's options in its pages.
    if args.hv52sim:
        sim_options = options_of(help_text(args.hv52sim))
        if "--bus" not in sim_options:
            failures.append("hv52sim --help: option --bus not found by the check's parser")
        for rel in ("docs/man/hv52sim.1.scd", "docs/man/zh_CN/hv52sim.1.scd"):
            text = read(os.path.join(src, rel))
            for option in sim_options:
                if not mentions(text, option):
                    failures.append(f"{rel}: option {option} of hv52sim --help is not described")

    # The completion offers every option and command.
    completion = os.path.join(src, "completion", "hv52ctl.bash")
    if not os.path.exists(completion):
        failures.append("completion/hv52ctl.bash: missing")
    else:
        text = read(completion)
        offered = re.search(r'^_hv52ctl_commands="([^"]*)"', text, re.M)
        for command in commands:
            if not offered or command not in offered.group(1).split():
                failures.append(f"completion/hv52ctl.bash: command {command} is not offered")
        for option in options:
            if not mentions(text, option):
                failures.append(f"completion/hv52ctl.bash: option {option} is not offered")

    # The lists the completion offers as they stand in the code.
    if os.path.exists(completion):
        text = read(completion)
        for name, variable in (("kSourceQuantityTexts", "_hv52ctl_sources"),
                               ("kRelayCommandTexts", "_hv52ctl_relay_commands")):
            listed = code_list(src, name)
            m = re.search(r'^' + variable + r'="([^"]*)"', text, re.M)
            offered = m.group(1).split() if m else []
            if not listed:
                failures.append(f"link/convert.cpp: list {name} not found by the check's parser")
            for entry in listed:
                if entry not in offered:
                    failures.append(f"completion/hv52ctl.bash: {variable} lacks “{entry}” of {name}")
            for entry in offered:
                if re.search(r"[\u4e00-\u9fff]", entry) and entry not in listed:
                    failures.append(f"completion/hv52ctl.bash: {variable} offers “{entry}”, not in {name}")

    strings = code_strings(src)
    units = Units(strings.split("\n"))
    if "召测数据，完成！" not in strings:
        failures.append("the check found no window texts in the source code")
    trouble = readme_trouble_texts(read(os.path.join(src, "README.md")))
    if not trouble:
        failures.append("README.md: section 模块无应答时 with its table not found")
    else:
        for gap in missing_runs(trouble, units):
            failures.append(f"README.md 模块无应答时: {gap} is in no text of the code")
    guide = os.path.join(src, "docs", "操作说明.md")
    quoted = guide_quoted_texts(read(guide))
    if len(quoted) < 20:
        failures.append(f"docs/操作说明.md: only {len(quoted)} quoted texts found")
    for gap in missing_runs(quoted, units):
        failures.append(f"docs/操作说明.md: {gap} is in no text of the code")

    failures += layout_gaps(src)

    if failures:
        print("\n".join(failures))
        print(f"FAIL: {len(failures)} gap(s) between the programs and their documents")
        return 1
    print(f"ok: {len(options)} options and {len(commands)} commands in 3 documents and the completion, "
          f"{len(trouble)} troubleshooting texts and {len(quoted)} guide texts found in the code")
    return 0


if __name__ == "__main__":
    sys.exit(main())
