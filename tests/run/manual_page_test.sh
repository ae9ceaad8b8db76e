#!/usr/bin/env bash
# The manual page renders without a single warning, and shows an examples folder that exists.
# Usage: manual_page_test.sh PAGE
set -euo pipefail
page=$1
if ! command -v groff >/dev/null 2>&1; then
    echo "skipped: groff is not installed (tools/install-prerequisites tests installs it)"
    exit 77
fi
warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
    echo "groff warns about $page:"
    echo "$warnings"
    exit 1
fi
text=$(groff -man -Tutf8 "$page" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g; s/.\x08//g')
for section in NAME SYNOPSIS VALUES FILES ENVIRONMENT DIAGNOSTICS "EXIT STATUS" EXAMPLE; do
    grep -q "^$section" <<<"$text" || { echo "no section $section"; exit 1; }
done
example=$(grep -o 'wave1d [^ ]*outgoing_pulse\.in' <<<"$text" | head -1 | cut -d' ' -f2)
[ -f "$example" ] || { echo "the example named does not exist: ${example:-none}"; exit 1; }
echo "manual page: renders cleanly, example $example"
