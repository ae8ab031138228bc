#!/usr/bin/python3
"""The guides as HTML pages: each docs/*.md given becomes a page in OUT, its
screenshots copied beside it, links between the guides pointed at their
pages. Debian's python3-markdown; the Windows build runs it.

    guide-html.py [--for windows|linux] OUT docs/操作说明.md docs/命令行工具.md

One source per guide serves both systems. What only one system has stands
between a pair of HTML comments, inline or on lines of their own:

    <!-- windows -->…<!-- /windows -->    <!-- linux -->…<!-- /linux -->

A table row belongs to one system when its cells sit inside one pair:
`| <!-- linux -->…<!-- /linux --> |`.

--for windows (the default, the pages the installer carries) keeps the
Windows blocks and drops the Linux ones. On Linux the .md files are the
guides: a Markdown viewer hides the markers and shows both systems' blocks,
so a block names its system where the other's stands beside it. --for linux
keeps every block and gives that view as HTML.

Heading ids are GitHub's (lowercased, punctuation dropped, each space a
hyphen, "-1" for a repeat), the anchors the guides' links are written with.
"""
import argparse
import os
import re
import shutil
import sys
import unicodedata

SYSTEMS = ("windows", "linux")

MARKER = re.compile(r"<!-- (/?)(" + "|".join(SYSTEMS) + r") -->")

PAGE = """<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>
body {{ font-family: "Microsoft YaHei", "SimSun", sans-serif; max-width: 60em; margin: 2em auto;
       padding: 0 1em; line-height: 1.6; color: #202020; }}
table {{ border-collapse: collapse; margin: 1em 0; }}
th, td {{ border: 1px solid #b0b0b0; padding: 0.3em 0.6em; vertical-align: top; }}
th {{ background: #eef2f7; }}
code, pre {{ font-family: Consolas, "Courier New", monospace; background: #f4f4f4; }}
pre {{ padding: 0.6em; overflow-x: auto; }}
img {{ max-width: 100%; border: 1px solid #d0d0d0; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""


class GuideError(Exception):
    pass


def check_markers(text):
    """Every block opened is closed by its own system's marker before the next
    one opens: a stray marker would drop or keep the wrong text silently."""
    open_at = None
    for m in MARKER.finditer(text):
        line = text.count("\n", 0, m.start()) + 1
        closing, system = m.group(1) == "/", m.group(2)
        if not closing and open_at is not None:
            raise GuideError("line %d: <!-- %s --> inside the block opened on line %d" % (line, system, open_at[1]))
        if closing and (open_at is None or open_at[0] != system):
            raise GuideError("line %d: <!-- /%s --> closes no %s block" % (line, system, system))
        # Markdown takes a line that begins with a comment for raw HTML: the
        # rest of it would show unformatted, so such a marker stands alone.
        start = text.rfind("\n", 0, m.start()) + 1
        end = text.find("\n", m.end())
        if start == m.start() and text[m.end():None if end < 0 else end].strip():
            raise GuideError("line %d: text after <!-- %s%s --> at the start of the line" % (line, m.group(1), system))
        open_at = None if closing else (system, line)
    if open_at is not None:
        raise GuideError("line %d: <!-- %s --> is never closed" % (open_at[1], open_at[0]))


def for_system(text, system):
    """The text as `system` reads it: its blocks kept without their markers,
    the other systems' blocks gone; with system None every block is kept."""
    check_markers(text)
    for other in SYSTEMS:
        if other == system or system is None:
            continue
        block = r"<!-- %s -->(?:(?!<!-- /%s -->).)*<!-- /%s -->" % (other, other, other)
        row = r"^\|[ \t]*<!-- %s -->(?:(?!<!-- /%s -->)[^\n])*<!-- /%s -->[ \t]*\|[ \t]*\n" % (other, other, other)
        # A row, or lines of their own, go whole: no empty row or blank line
        # is left in a table or a list.
        text = re.sub(row, "", text, flags=re.M)
        text = re.sub(r"^<!-- %s -->[ \t]*\n(?:(?!<!-- /%s -->).)*^<!-- /%s -->[ \t]*\n" % (other, other, other), "",
                      text, flags=re.M | re.S)
        text = re.sub(block, "", text, flags=re.S)
    text = re.sub(r"^<!-- /?(?:%s) -->[ \t]*\n" % "|".join(SYSTEMS), "", text, flags=re.M)
    return MARKER.sub("", text)


def github_slug(text):
    """A heading's anchor as GitHub writes it: lowercased, letters, digits,
    marks, "_", "-" and spaces kept, each space a hyphen (not collapsed:
    "（--tcp、--modbus-tcp）" gives "--tcp--modbus-tcp")."""
    kept = "".join(c for c in text.lower() if c in " -_" or unicodedata.category(c)[0] in "LMN")
    return kept.replace(" ", "-")


def slugger():
    """GitHub's slugs for one page, a repeated heading numbered -1, -2, ..."""
    seen = {}

    def slugify(value, separator):
        base = github_slug(value)
        slug, n = base, seen.get(base, 0)
        while slug in seen:
            n += 1
            slug = "%s-%d" % (base, n)
        seen[base] = n
        seen[slug] = 0
        return slug

    return slugify


def to_html(text):
    import markdown
    # A link to another guide (with or without an anchor) goes to its page;
    # a link that reads as the file's name reads as the guide's.
    text = re.sub(r"\[([^\]]+?)\.md\]\(\1\.md([#)])", r"[\1](\1.md\2", text)
    text = re.sub(r"\]\(([^)\s#]+)\.md(#[^)]*)?\)", lambda m: "](%s.html%s)" % (m.group(1), m.group(2) or ""), text)
    html = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"],
                             extension_configs={"toc": {"slugify": slugger()}})
    # A "|" in a table cell's code is written "\|", which GitHub shows as
    # "|"; python-markdown keeps the backslash inside code.
    return re.sub(r"<td>(.*?)</td>", lambda m: "<td>%s</td>" % m.group(1).replace("\\|", "|"), html, flags=re.S)


def write(path, text):
    # Whole or not there: a temporary file renamed over the page.
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)
    os.replace(tmp, path)


def convert(source, out, system):
    with open(source, encoding="utf-8") as f:
        try:
            text = for_system(f.read(), system)
        except GuideError as e:
            raise GuideError("%s: %s" % (source, e))
    here = os.path.dirname(source)
    # Screenshots keep their relative paths; the images the page shows come along.
    for image in re.findall(r"!\[[^\]]*\]\(([^)\s]+\.png)\)", text):
        target = os.path.join(out, image)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(here, image), target)
    title = next((line.lstrip("# ").strip() for line in text.splitlines() if line.startswith("#")),
                 os.path.basename(source))
    name = os.path.splitext(os.path.basename(source))[0] + ".html"
    write(os.path.join(out, name), PAGE.format(title=title, body=to_html(text)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--for", dest="system", choices=SYSTEMS, default="windows")
    ap.add_argument("out")
    ap.add_argument("sources", nargs="+")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    try:
        for source in args.sources:
            convert(source, args.out, args.system if args.system == "windows" else None)
    except GuideError as e:
        sys.exit("guide-html.py: %s" % e)


if __name__ == "__main__":
    main()
