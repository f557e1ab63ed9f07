#!/usr/bin/env bash
# The manual page generator on a help text with what roff would take for its
# own (lines that start with . or ', backslashes, minus signs) and the
# separator and brackets of a CMake list, its parts in another order than a
# manual page's. The page must render without warnings, hold every word of
# the help, put the parts in the sections manual pages have, in their order,
# and make table rows tagged paragraphs whose tags keep an option with its
# value.
#
#   help_to_man_test.sh CMAKE GENERATOR CHECK_PACKAGES
set -u
cmake=$1 generator=$2 check=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

cat >"$dir/help.txt" <<'HELP'
usage: tool [--all] [NAME; NAME ...]
       tool --help
Reads a tracker [of any size
and model] and writes \\, \r and \n as they are; a semicolon; another.
.starts with a dot
'starts with a quote

Examples:
  tool read --port COM3
  .hidden example that starts with a dot

Exit status "as numbers":
  0    ok
  1    failed; see [above
Prose after the table, -5 and --x.

Commands:
  read --port NAME [--gpx FILE] [--csv FILE] [--geojson FILE] [--kml22 FILE]
      [--svg FILE]
                         press Read and write
                         the track
  go                     press Go!
'quoted'                 and one that starts with a quote flush left

Options:
  --port NAME            the port
HELP
printf '#!/bin/sh\ncat %s\n' "$dir/help.txt" >"$dir/tool"
chmod +x "$dir/tool"

"$cmake" -DPROGRAM="$dir/tool" -DNAME=tool "-DSUMMARY=a test; of [brackets" -DVERSION=1.2.3 \
  "-DSEE_ALSO=kw9(1)" -DOUTPUT="$dir/tool.1" -P "$generator" || { echo "the generator failed"; exit 1; }

bash "$check" manpage "$dir/tool" "$dir/tool.1" NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS EXAMPLES \
  'SEE ALSO' || exit 1
rendered=$(MANWIDTH=80 man -E ascii -l "$dir/tool.1")
for line in '   Exit status "as numbers"' '       tool - a test; of \[brackets' \
    '       tool read --port COM3' '       0    ok' '       --port NAME            the port' \
    '                              press Read and write the track'; do
  grep -qx -- "$line" <<<"$rendered" || { echo "no line \"$line\":"; echo "$rendered"; exit 1; }
done
for width in 80 50; do
  MANWIDTH=$width man -E ascii -l "$dir/tool.1" | grep -E -- '(--port|\[--[a-z0-9]+)$' &&
    { echo "an option parted from its value at width $width"; exit 1; }
done
echo "the generated page renders the whole help"
