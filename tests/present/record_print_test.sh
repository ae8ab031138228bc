#!/usr/bin/env bash
# The HTML commissioning record as it is printed for signing: headless
# Chromium turns the four-meter record into a PDF and a screenshot, poppler and
# ImageMagick check what came out. Each meter on a page of its own, its
# heading first; the Chinese text drawn with an embedded CJK font; the
# screenshot not blank.
#
#   record_print_test.sh PATH/TO/tst_record
#
# Exits 77 (skipped) only when Chromium is not installed.
set -euo pipefail

tst=${1:?usage: record_print_test.sh PATH/TO/tst_record}
chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ]; then
  echo "SKIP: chromium is not installed (scripts/install-deps.sh installs it)"
  exit 77
fi
for tool in pdfinfo pdftotext pdffonts identify; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$tst" --write-sample "$work/record.html" || fail "tst_record --write-sample"
mapfile -t headings <"$work/record.html.headings"
[ ${#headings[@]} -ge 1 ] || fail "no meter headings"

# A profile and a HOME of its own: CI runs as root with neither. No sandbox
# as root; no GPU without a screen.
export HOME="$work/home"
mkdir -p "$HOME"
run_chromium() {
  timeout 40 "$chromium" --headless --no-sandbox --disable-gpu --no-first-run \
    --user-data-dir="$work/profile" "$@" "file://$work/record.html" >"$work/chromium.log" 2>&1 ||
    { cat "$work/chromium.log"; fail "chromium $*"; }
}
run_chromium --no-pdf-header-footer --print-to-pdf="$work/record.pdf"
run_chromium --window-size=1240,1754 --screenshot="$work/record.png"
[ -s "$work/record.pdf" ] || fail "no PDF written"
[ -s "$work/record.png" ] || fail "no screenshot written"

pages=$(pdfinfo "$work/record.pdf" | awk '/^Pages:/ { print $2 }')
want=$((1 + ${#headings[@]}))
[ "$pages" -ge "$want" ] || fail "$pages pages, want at least $want (the summary, then a page per meter)"
echo "PDF: $pages pages for ${#headings[@]} meters"

# Each meter starts a page, in order: its heading is that page's first line.
page=2
for heading in "${headings[@]}"; do
  found=
  while [ "$page" -le "$pages" ]; do
    first=$(pdftotext -enc UTF-8 -f "$page" -l "$page" "$work/record.pdf" - | sed -e '/^[[:space:]]*$/d' | head -n 1)
    page=$((page + 1))
    if [ "$first" = "$heading" ]; then
      found=yes
      echo "page $((page - 1)) begins with: $heading"
      break
    fi
  done
  [ -n "$found" ] || fail "no page begins with \"$heading\""
done

# The Chinese text is text, not boxes: it extracts, and a CJK font is embedded.
text=$(pdftotext -enc UTF-8 "$work/record.pdf" -)
for words in 调试记录 调试人 验收人 "${headings[0]}" 读取失败 未要求写入任何设置; do
  grep -qF -- "$words" <<<"$text" || fail "the PDF text lacks \"$words\""
done
fonts=$(pdffonts "$work/record.pdf")
grep -E 'WenQuanYi|NotoSans[A-Za-z]*CJK|NotoSerif[A-Za-z]*CJK|SourceHan' <<<"$fonts" |
  awk '$(NF-4) == "yes" { found = 1 } END { exit !found }' ||
  { echo "$fonts"; fail "no embedded CJK font"; }

# A blank page is one or two colours; text with antialiasing is many.
colours=$(identify -format '%k' "$work/record.png")
[ "$colours" -gt 16 ] || fail "the screenshot has $colours colours: blank?"
size=$(identify -format '%wx%h' "$work/record.png")
echo "screenshot $size, $colours colours"
echo "PASS"
