#!/usr/bin/env bash
# Renders one page of the user documentation to HTML for the help:
#   render_page.sh CMARK PAGE.md OUT.html TITLE HELP_PAGE...
# Pipe tables become HTML tables (CommonMark has none; each cell stays
# Markdown), links to the help's pages (HELP_PAGE, without .md) lead to their
# .html, links to pages outside the help keep only their text, headings get
# the ids that the pages' #fragments name, and the page gets the help's
# header and footer.
set -euo pipefail
cmark=$1 in=$2 out=$3 title=$4
shift 4
pages="$*"

awk -v pages="$pages" '
BEGIN { n = split(pages, p, " "); for (i = 1; i <= n; i++) help[p[i]] = 1 }
function links(s,   out, m, target, name, text) {
  out = ""
  while (match(s, /\[[^]]*\]\([A-Za-z0-9._-]+\.md(#[^)]*)?\)/)) {
    m = substr(s, RSTART, RLENGTH)
    text = substr(m, 2, index(m, "](") - 2)
    target = substr(m, index(m, "](") + 2); target = substr(target, 1, length(target) - 1)
    name = target; sub(/\.md.*/, "", name)
    if (name in help) { sub(/\.md/, ".html", target); m = "[" text "](" target ")" } else m = text
    out = out substr(s, 1, RSTART - 1) m
    s = substr(s, RSTART + RLENGTH)
  }
  return out s
}
# The cells of a table row, split on "|" outside code spans.
function cells(row, c,   i, ch, code, cur, k) {
  sub(/^[ \t]*\|/, "", row); sub(/\|[ \t]*$/, "", row)
  k = 0; cur = ""; code = 0
  for (i = 1; i <= length(row); i++) {
    ch = substr(row, i, 1)
    if (ch == "\\" && substr(row, i + 1, 1) == "|") { cur = cur "|"; i++; continue }
    if (ch == "`") code = !code
    if (ch == "|" && !code) { c[++k] = cur; cur = ""; continue }
    cur = cur ch
  }
  c[++k] = cur
  return k
}
# A row as HTML blocks with each cell as Markdown between blank lines.
function row(line, tag,   c, k, i, cell) {
  k = cells(line, c)
  printf "<tr>"
  for (i = 1; i <= k; i++) {
    cell = c[i]; gsub(/^[ \t]+|[ \t]+$/, "", cell)
    printf "<%s>\n\n%s\n\n</%s>", tag, cell, tag
  }
  print "</tr>"
}
/^```/ { fence = !fence }
fence { print; next }
{ $0 = links($0) }
held != "" {
  if ($0 ~ /^[ \t]*\|[ \t:|-]+$/) { print "<table>"; row(held, "th"); held = ""; table = 1; next }
  print held; held = ""
}
table && /^[ \t]*\|/ { row($0, "td"); next }
table { print "</table>\n"; table = 0 }
/^[ \t]*\|/ { held = $0; next }
{ print }
END { if (held != "") print held; if (table) print "</table>" }
' "$in" >"$out.md"

body=$("$cmark" --unsafe "$out.md")
rm -f "$out.md"

# Ids for the headings, as the pages link to them: lower case, letters,
# digits, "-" and "_" kept, spaces as "-", a repeated id numbered.
body=$(printf '%s\n' "$body" | awk '
function slug(s,   t) {
  gsub(/<[^>]*>/, "", s); gsub(/&[a-z]+;|&#[0-9]+;/, "", s)
  s = tolower(s); gsub(/[^a-z0-9 _\200-\377-]/, "", s); gsub(/ /, "-", s)
  t = s
  if (t in seen) t = s "-" seen[s]
  seen[s]++
  return t
}
/^<h[1-6]>/ { tag = substr($0, 2, 2); text = $0; sub(/^<h[1-6]>/, "", text); sub(/<\/h[1-6]>$/, "", text)
  print "<" tag " id=\"" slug(text) "\">" text "</" tag ">"; next }
{ print }')

cat >"$out" <<HTML
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>$title – Hydrix help</title>
<style>
body { font-family: sans-serif; max-width: 56em; margin: 0 auto; padding: 0 1em 2em; line-height: 1.45; }
nav { padding: .6em 0; border-bottom: 1px solid #ccc; margin-bottom: 1em; }
code, pre { background: #f4f4f4; }
pre { padding: .6em; overflow-x: auto; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #ccc; padding: .25em .5em; vertical-align: top; text-align: left; }
th p, td p { margin: 0; }
img { max-width: 100%; }
</style>
</head>
<body>
<nav><a href="index.html">Hydrix help</a></nav>
$body
<footer><p><small>Hydrix IP tool set. Also in the manual pages: <code>man hydrix</code>, <code>man hydrixctl</code>, <code>man flashtool</code>, <code>man hydrix-sim</code>, <code>man hxusb.conf</code>.</small></p></footer>
</body>
</html>
HTML
