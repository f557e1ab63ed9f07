#!/usr/bin/env bash
# The manual page generator on a help text with what roff would take for its
# own: lines that start with . or ', backslashes, minus signs, and the
# separator and brackets of a CMake list. The page must render without
# warnings, hold every word of the help, and make its headings subsections.
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

Commands:
  read --port NAME       press Read
  .hidden                a table row that starts with a dot
'quoted'                 and one that starts with a quote flush left

Exit status "as numbers":
  0    ok
  1    failed; see [above
Prose after the table, -5 and --x.
HELP
printf '#!/bin/sh\ncat %s\n' "$dir/help.txt" >"$dir/tool"
chmod +x "$dir/tool"

"$cmake" -DPROGRAM="$dir/tool" -DNAME=tool "-DSUMMARY=a test; of [brackets" -DVERSION=1.2.3 \
  "-DSEE_ALSO=kw9(1)" -DOUTPUT="$dir/tool.1" -P "$generator" || { echo "the generator failed"; exit 1; }

bash "$check" manpage "$dir/tool" "$dir/tool.1" || exit 1
rendered=$(MANWIDTH=80 man -E ascii -l "$dir/tool.1")
for heading in 'Commands' 'Exit status "as numbers"'; do
  grep -qx "   $heading" <<<"$rendered" || { echo "no subsection $heading:"; echo "$rendered"; exit 1; }
done
grep -qx '       tool - a test; of \[brackets' <<<"$rendered" ||
  { echo "the NAME line is not the summary:"; echo "$rendered"; exit 1; }
echo "the generated page renders the whole help"
