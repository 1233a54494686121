#!/bin/sh
# Fails when systemd-analyze scores unit $1 above $2, or ignores one of its lines.
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze"; exit 77; }
out=$(systemd-analyze security --offline=yes "$1" 2>&1)
echo "$out" | grep -v '^✓'
case $out in *"unrecognized option"*) exit 77 ;; esac
if echo "$out" | grep -q "$(basename "$1"):[0-9]"; then echo "FAIL: a line is ignored"; exit 1; fi
score=$(echo "$out" | sed -n 's/.*exposure level for .*: \([0-9.]*\) .*/\1/p')
[ -n "$score" ] && awk -v s="$score" -v max="$2" 'BEGIN { exit !(s <= max) }' || { echo "FAIL: $score > $2"; exit 1; }
