#!/usr/bin/python3
"""The guides as HTML, for Windows and for Linux, made by scripts/guide-html.py.

    check_guide_html.py --source DIR

Fails, naming each fault, when
  - the system blocks of a guide are not kept or dropped as they should be,
    or a stray marker is let through;
  - a heading's id is not the anchor the guides link to (GitHub's);
  - on either system's pages a link (another page, its #id, an #id of the
    page itself) or an image leads nowhere;
  - the Windows pages still tell of what only Linux has, or a marker is
    left in a page; the Linux pages lose what Linux readers are told.
Debian's python3 and python3-markdown.
"""
import argparse
import html
import html.parser
import importlib.util
import os
import subprocess
import sys
import tempfile
import urllib.parse

GUIDES = ["docs/操作说明.md", "docs/命令行工具.md"]

# What Windows has none of: its pages must not tell of it.
LINUX_ONLY = ["HV52_SERIAL_DIR", "/dev/tty", "ln -sf", "bash scripts", "echo $?", "| head", "man hv52ctl", "hv52sim"]
# What the .md files tell a Linux reader, both systems' blocks shown: a
# filter that drops too much is seen.
LINUX_KEPT = ["HV52_SERIAL_DIR", "ln -sf", "man hv52ctl", "hv52sim", "设备管理器"]

# (text, system, expected); expected None: refused as badly marked.
BLOCK_CASES = [
    ("a<!-- linux -->L<!-- /linux -->b", "windows", "ab"),
    ("a<!-- linux -->L<!-- /linux -->b", None, "aLb"),
    ("a<!-- windows -->W<!-- /windows -->b", "windows", "aWb"),
    ("x\n<!-- linux -->\nL1\nL2\n<!-- /linux -->\ny\n", "windows", "x\ny\n"),
    ("x\n<!-- windows -->\nW\n<!-- /windows -->\ny\n", "windows", "x\nW\ny\n"),
    ("x\n<!-- linux -->\nL\n<!-- /linux -->\ny\n", None, "x\nL\ny\n"),
    ("| a | b |\n| <!-- linux -->l | m<!-- /linux --> |\n| c | d |\n", "windows", "| a | b |\n| c | d |\n"),
    ("| <!-- linux -->l<!-- /linux --> | k |\n", "windows", "|  | k |\n"),
    ("1. a\n<!-- linux -->\n2. b\n<!-- /linux -->\n", "windows", "1. a\n"),
    ("a<!-- linux -->b", "windows", None),
    ("a<!-- /linux -->b", "windows", None),
    ("z<!-- linux -->a<!-- windows -->b<!-- /windows --><!-- /linux -->", "windows", None),
    ("z<!-- linux -->a<!-- /windows -->", None, None),
    ("x\n<!-- linux -->L<!-- /linux -->\n", None, None),
]

# (heading, its id): the anchors the guides are written with.
SLUG_CASES = [
    ("经网关访问总线（--tcp、--modbus-tcp）", "经网关访问总线--tcp--modbus-tcp"),
    ("调试报告（commission --json 与记录 .json）", "调试报告commission---json-与记录-json"),
    ("调试记录（保存调试记录…，Ctrl+S）", "调试记录保存调试记录ctrls"),
    ("scan --site、scan --lines：同时扫描各条线路", "scan---sitescan---lines同时扫描各条线路"),
    ("cfg_t516（标题“HV52T516扩展模块”）", "cfg_t516标题hv52t516扩展模块"),
]


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.ids, self.hrefs, self.images = set(), [], []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if a.get("id"):
            self.ids.add(a["id"])
        if tag == "a" and a.get("href"):
            self.hrefs.append(a["href"])
        if tag == "img":
            self.images.append(a.get("src") or "")


def load_script(source):
    spec = importlib.util.spec_from_file_location("guide_html", os.path.join(source, "scripts", "guide-html.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def block_faults(guide_html):
    faults = []
    for text, system, expected in BLOCK_CASES:
        try:
            got = guide_html.for_system(text, system)
        except guide_html.GuideError:
            got = None
        if got != expected:
            faults.append(f"blocks for {system or 'linux'}: {text!r} gave {got!r}, not {expected!r}")
    slugify = guide_html.slugger()
    for heading, slug in SLUG_CASES + [(SLUG_CASES[0][0], SLUG_CASES[0][1] + "-1")]:
        got = slugify(heading, "-")
        if got != slug:
            faults.append(f"heading “{heading}”: id {got!r}, not {slug!r}")
    return faults


def broken_links(out):
    """Every link and image of the pages in `out` that leads nowhere."""
    pages = {}
    for root, _, files in os.walk(out):
        for name in files:
            if name.endswith(".html"):
                path = os.path.join(root, name)
                page = Page()
                with open(path, encoding="utf-8") as f:
                    page.feed(f.read())
                pages[os.path.normpath(path)] = page
    broken = []
    for path, page in sorted(pages.items()):
        here = os.path.dirname(path)
        name = os.path.relpath(path, out)
        for href in page.hrefs:
            parts = urllib.parse.urlsplit(href)
            if parts.scheme or parts.netloc:
                continue
            target = os.path.normpath(os.path.join(here, urllib.parse.unquote(parts.path))) if parts.path else path
            fragment = urllib.parse.unquote(parts.fragment)
            if target not in pages and not os.path.isfile(target):
                broken.append(f"{name}: {href} (no such page)")
            elif fragment and (target not in pages or fragment not in pages[target].ids):
                broken.append(f"{name}: {href} (no such id)")
        for src in page.images:
            if not os.path.isfile(os.path.join(here, urllib.parse.unquote(src))):
                broken.append(f"{name}: image {src!r} is not there")
    return broken, len(pages)


def page_texts(out):
    texts = {}
    for name in os.listdir(out):
        if name.endswith(".html"):
            with open(os.path.join(out, name), encoding="utf-8") as f:
                texts[name] = f.read()
    return texts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    src = args.source
    failures = block_faults(load_script(src))
    script = os.path.join(src, "scripts", "guide-html.py")
    guides = [os.path.join(src, g) for g in GUIDES]
    with tempfile.TemporaryDirectory() as tmp:
        for system in ("windows", "linux"):
            out = os.path.join(tmp, system)
            run = subprocess.run([sys.executable, script, "--for", system, out] + guides,
                                 capture_output=True, text=True, timeout=120)
            if run.returncode != 0:
                failures.append(f"{system}: guide-html.py failed: {run.stderr.strip()}")
                continue
            broken, count = broken_links(out)
            if count != len(GUIDES):
                failures.append(f"{system}: {count} pages made, not {len(GUIDES)}")
            failures += [f"{system}: {b}" for b in broken]
            texts = page_texts(out)
            joined = "\n".join(texts.values())
            for name, text in sorted(texts.items()):
                if "<!--" in text:
                    failures.append(f"{system}: {name} keeps a marker")
                # A table cell's "\|" is shown as "|" (GitHub's reading).
                if "\\|" in text:
                    failures.append(f"{system}: {name} shows a backslash before a |")
                if system == "windows":
                    plain = html.unescape(text)
                    for word in LINUX_ONLY:
                        if word in plain:
                            failures.append(f"windows: {name} tells of “{word}”")
            if system == "linux":
                for word in LINUX_KEPT:
                    if word not in joined:
                        failures.append(f"linux: the guides no longer tell of “{word}”")
    if failures:
        print("\n".join(failures))
        print(f"FAIL: {len(failures)} fault(s) in the guides' pages")
        return 1
    print(f"ok: {len(BLOCK_CASES)} block cases, {len(SLUG_CASES)} headings; "
          f"the guides' links and images resolve on both systems' pages, none of {len(LINUX_ONLY)} Linux texts on Windows")
    return 0


if __name__ == "__main__":
    sys.exit(main())
