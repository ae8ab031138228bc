#!/usr/bin/python3
"""The guides for Windows: each docs/*.md given becomes an HTML page in OUT,
its screenshots copied beside it, links between the guides pointed at their
pages. Debian's python3-markdown; run by the Windows build.

    guide-html.py OUT docs/操作说明.md docs/命令行工具.md
"""
import os
import re
import shutil
import sys

import markdown
from markdown.extensions.toc import slugify_unicode

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


def write(path, text):
    # Whole or not there: a temporary file renamed over the page.
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\r\n") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    out, sources = sys.argv[1], sys.argv[2:]
    os.makedirs(out, exist_ok=True)
    for source in sources:
        with open(source, encoding="utf-8") as f:
            text = f.read()
        here = os.path.dirname(source)
        # Screenshots keep their relative paths; the images come along.
        for image in re.findall(r"!\[[^\]]*\]\(([^)\s]+\.png)\)", text):
            target = os.path.join(out, image)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(os.path.join(here, image), target)
        # A link to another guide (with or without an anchor) goes to its page.
        text = re.sub(r"\]\(([^)\s#]+)\.md(#[^)]*)?\)", lambda m: "](%s.html%s)" % (m.group(1), m.group(2) or ""), text)
        # Headings get the anchors the guides link to, Chinese kept.
        body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"],
                                 extension_configs={"toc": {"slugify": slugify_unicode}})
        title = next((line.lstrip("# ").strip() for line in text.splitlines() if line.startswith("#")),
                     os.path.basename(source))
        name = os.path.splitext(os.path.basename(source))[0] + ".html"
        write(os.path.join(out, name), PAGE.format(title=title, body=body))


if __name__ == "__main__":
    main()
