#!/usr/bin/env bash
# The built help: each page named is there, and every link and picture of
# every page leads to a file of the help (and a fragment to an id of that
# page). Usage: check_help.sh HELP_FOLDER PAGE...
set -uo pipefail
dir=$1
shift
status=0
fail() { echo "check_help: $*" >&2; status=1; }
for page in "$@"; do [ -f "$dir/$page.html" ] || fail "no $dir/$page.html"; done
for html in "$dir"/*.html; do
	while read -r ref; do
		case $ref in http://* | https://* | mailto:*) continue ;; esac
		file=${ref%%#*} fragment=
		[ "$file" != "$ref" ] && fragment=${ref#*#}
		[ -n "$file" ] || file=$(basename "$html")
		if [ ! -f "$dir/$file" ]; then
			fail "$(basename "$html"): $ref leads to no file"
		elif [ -n "$fragment" ] && ! grep -q "id=\"$fragment\"" "$dir/$file"; then
			fail "$(basename "$html"): $ref leads to no heading"
		fi
	done < <(grep -o -E '(href|src)="[^"]*"' "$html" | sed -E 's/^(href|src)="(.*)"$/\2/')
done
exit $status
