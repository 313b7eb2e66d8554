#!/usr/bin/env bash
# hydrixctl's manual page and its --help name the same commands and options:
# each command of --help (its words up to the first argument) and each
# --option has its bold entry in the manual page, and each command entry of
# the manual page's COMMANDS is in --help.
# Usage: check_manual.sh HYDRIXCTL MANUAL.md
set -uo pipefail
help=$("$1" --help) || { echo "check_manual: $1 --help failed" >&2; exit 1; }
manual=$2
status=0
fail() { echo "check_manual: $*" >&2; status=1; }

# A command is a line's first word and, for "settings set" and the like, its
# second when that is a plain word: "  fast-clock on|off" is "fast-clock".
help_commands=$(printf '%s\n' "$help" | grep -E '^  [a-z]' | sed -E 's/^  //; s/  .*//' |
	awk '{ if ($2 ~ /^[a-z][a-z-]*$/) print $1 " " $2; else print $1 }' | sort -u)
manual_commands=$(sed -n '/^# COMMANDS/,/^# /p' "$manual" | sed -nE 's/^\*\*([a-z][a-z-]*( [a-z][a-z-]*)?)\*\*.*/\1/p' | sort -u)
while read -r c; do
	[ -n "$c" ] || continue
	grep -q "^\*\*$c\*\*" "$manual" || fail "'$c' of --help is not in the manual page"
done <<<"$help_commands"
while read -r c; do
	[ -n "$c" ] || continue
	printf '%s\n' "$help_commands" | grep -qx -- "$c" || fail "'$c' of the manual page is not in --help"
done <<<"$manual_commands"
for option in $(printf '%s\n' "$help" | grep -o -E -- '--[a-z][a-z-]*' | sort -u); do
	grep -q -- "\*\*$option\*\*" "$manual" || fail "option $option of --help is not in the manual page"
done
[ -n "$help_commands" ] || fail "no commands read from --help"
exit $status
