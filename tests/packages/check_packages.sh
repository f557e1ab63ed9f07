#!/usr/bin/env bash
# The packages as a user meets them; ./run test calls this after each build.
#
#   check_packages.sh deb BUILD_DIR   the Debian package from the default build:
#                                     installs it (root, or sudo), runs what it
#                                     installed, removes it again
#   check_packages.sh zip BUILD_DIR   the Windows zip from the windows build:
#                                     needs Wine (WINEPREFIX, a running
#                                     wineserver) and an X display (DISPLAY)
#   check_packages.sh installer BUILD_DIR
#                                     the Windows installer from the windows
#                                     build: installs it silently in that Wine
#                                     prefix, runs what it installed,
#                                     uninstalls it again
#   check_packages.sh manpage PROGRAM PAGE SECTION...
#                                     only the manual page check below
#   check_packages.sh completion SCRIPT
#                                     only the bash completion check below
#
# deb, zip and installer make their package with cpack first. Exits non-zero at the first check
# that fails, saying which.
set -u

fail() {
  printf 'package check FAILED: %s\n' "$*" >&2
  exit 1
}
passed() { printf 'package check: %s\n' "$*"; }

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# cpack in BUILD_DIR with GENERATOR; its log is shown only when it fails.
make_package() {
  local build=$1 generator=$2
  (cd "$build" && cpack -G "$generator") >"$build/cpack-$generator.log" 2>&1 ||
    { cat "$build/cpack-$generator.log"; fail "cpack -G $generator in $build"; }
}

project_version() {
  sed -n 's/^#define KW9_VERSION "\(.*\)"$/\1/p' "$1/generated/kw9_version.h"
}

# The README Windows users get: the source's, with CR LF line ends.
check_windows_readme() {
  local source
  source="$(dirname "$0")/../../packaging/README-windows.txt"
  cmp -s <(sed 's/$/\r/' "$source") "$1" || fail "$1 is not packaging/README-windows.txt with CR LF"
}

# The words of a program's --help and those its rendered manual page shows
# from SYNOPSIS to SEE ALSO, sorted, the parts' names and "usage:" aside: a
# line the formatter swallowed or a character it ate shows as a difference.
help_words() {
  "$1" --help | sed '1s/^usage: //' | awk 'NR > 1 && last == "" && /^[^ ].*:$/ { last = "x"; next } { last = $0; print }' |
    tr -s ' \n' '\n\n' | sed '/^$/d' | sort
}
page_words() {
  MANWIDTH=200 man -E ascii -l "$1" 2>/dev/null |
    sed -n '/^SYNOPSIS$/,/^SEE ALSO$/p' | sed '/^[^ ]/d;/^   [^ ]/d' |
    tr -s ' \n' '\n\n' | sed '/^$/d' | sort
}

# man -l renders PAGE without warnings, within 80 columns, with exactly the
# sections SECTION... in that order, and with every word of PROGRAM --help.
check_manual_page() {
  local program=$1 page=$2 rendered warnings sections
  shift 2
  warnings=$(mktemp)
  rendered=$(MANWIDTH=80 man --warnings -E ascii -l "$page" 2>"$warnings")
  [ -s "$warnings" ] && { cat "$warnings"; rm -f "$warnings"; fail "man -l $page warns"; }
  rm -f "$warnings"
  awk 'length > 80 { print; bad = 1 } END { exit bad }' <<<"$rendered" ||
    fail "man -l $page renders the lines above wider than 80 columns"
  sections=$(sed -n '2,$s/^\([A-Z][A-Z ]*\)$/\1/p' <<<"$rendered" | paste -sd,)
  [ "$sections" = "$(IFS=,; echo "$*")" ] || fail "$page has the sections $sections, not $(IFS=,; echo "$*")"
  diff <(help_words "$program") <(page_words "$page") >/dev/null ||
    { diff <(help_words "$program") <(page_words "$page"); fail "$page differs from $program --help"; }
}

# The sections of kw9(1); kw9cli(1) has its COMMANDS too.
kw9_sections=(NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES 'SEE ALSO')
kw9cli_sections=(NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES
  'SEE ALSO')

# The completion SCRIPT, sourced by a bash without bash-completion, on command
# lines typed up to a TAB: the words it offers. A stand-in kw9cli, the one
# file in the folder the completion runs in, lists two ports.
check_completion() {
  local script=$1 dir
  dir=$(mktemp -d)
  cat >"$dir/kw9cli" <<'STUB'
#!/bin/sh
[ "$1" = ports ] && printf 'ttyUSB0\t/dev/ttyUSB0\t\t0403:6001\t\nttyS0\t/dev/ttyS0\t\t\t\n'
STUB
  chmod +x "$dir/kw9cli"
  local line expected got
  while IFS='|' read -r line expected; do
    got=$(KW9CLI="$dir/kw9cli" LINE="$line" bash --norc -c '
      source "$1" || exit 1
      cd "${KW9CLI%/*}" || exit 1
      function=$(complete -p kw9cli | sed -n "s/.*-F \([^ ]*\) kw9cli$/\1/p")
      read -ra COMP_WORDS <<<"$LINE"
      [[ $LINE == *" " ]] && COMP_WORDS+=("")
      COMP_WORDS[0]=$KW9CLI
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      "$function" "$KW9CLI" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      echo "${COMPREPLY[*]}"' bash "$script") || { rm -rf "$dir"; fail "bash cannot source $script"; }
    [ "$got" = "$expected" ] ||
      { rm -rf "$dir"; fail "completion of \"$line<TAB>\" offers \"$got\", not \"$expected\""; }
  done <<'CASES'
kw9cli dow|download
kw9cli export t.kml --to |gpx csv geojson kml22 svg
kw9cli export t.kml --to = g|gpx geojson
kw9cli -j pro|profile
kw9cli profile ap|apply
kw9cli help profile s|save
kw9cli erase --y|--yes
kw9cli read --y|
kw9cli profile apply --d|--dry-run
kw9cli write -p COM3 --wrap-m|--wrap-memory
kw9cli write -p COM3 --wrap-memory |0 1
kw9cli read -p |ttyUSB0 ttyS0
kw9cli download --port = ttyU|ttyUSB0
kw9cli download --date 2026-03-01 --po|--port
kw9cli go -- --|
kw9cli download -o kw|kw9cli
kw9cli export kw|kw9cli
kw9cli read kw|
CASES
  rm -rf "$dir"
}

check_deb() {
  local build=$1 version deb arch
  make_package "$build" DEB
  version=$(project_version "$build")
  arch=$(dpkg --print-architecture)
  deb="$build/kw9_${version}_${arch}.deb"
  [ -f "$deb" ] || fail "cpack made no $deb"
  passed "$(basename "$deb")"

  local contents
  contents=$(dpkg-deb -c "$deb") || fail "dpkg-deb -c $deb"
  for wanted in usr/bin/kw9 usr/bin/kw9cli usr/share/applications/kw9.desktop \
      usr/share/man/man1/kw9.1.gz usr/share/man/man1/kw9cli.1.gz \
      usr/share/bash-completion/completions/kw9cli \
      usr/share/doc/kw9/copyright usr/share/doc/kw9/changelog.gz; do
    grep -q " \./$wanted\$" <<<"$contents" || fail "$deb holds no /$wanted"
  done
  grep -q "trackersim" <<<"$contents" && fail "$deb holds trackersim"

  lintian --fail-on error "$deb" || fail "lintian reports errors for $deb"
  passed "lintian: no error"

  if dpkg-query -W -f='${Status}' kw9 2>/dev/null | grep -q 'install ok installed'; then
    fail "kw9 is installed already: this check installs and removes it (dpkg --purge kw9 first)"
  fi
  # What the package brings that the machine does not have yet must go with it.
  local new_paths=() path
  while IFS= read -r path; do
    path=${path#.}
    path=${path%/}
    [ -n "$path" ] && [ ! -e "$path" ] && new_paths+=("$path")
  done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t)
  [ ${#new_paths[@]} -gt 0 ] || fail "every file of $deb is on the machine already"

  trap '$sudo dpkg --purge kw9 >/dev/null 2>&1' EXIT
  export DEBIAN_FRONTEND=noninteractive
  # dpkg leaves missing dependencies to apt-get -f install, as a user meets it.
  $sudo dpkg -i "$deb" || $sudo apt-get -f install -y -qq || fail "apt-get -f install"
  dpkg-query -W -f='${Status}' kw9 | grep -q 'install ok installed' || fail "dpkg -i $deb"
  passed "installed with dpkg -i"

  local out
  out=$(/usr/bin/kw9cli --version) || fail "/usr/bin/kw9cli --version exits $?"
  grep -qF "$version" <<<"$out" || fail "/usr/bin/kw9cli --version says \"$out\", not $version"
  /usr/bin/kw9cli ports >/dev/null || fail "/usr/bin/kw9cli ports exits $?"
  out=$(/usr/bin/kw9 --help) || fail "/usr/bin/kw9 --help exits $?"
  grep -q "^usage: kw9 " <<<"$out" || fail "/usr/bin/kw9 --help prints no usage"
  out=$(/usr/bin/kw9 --version) || fail "/usr/bin/kw9 --version exits $?"
  [ "$out" = "kw9 $version" ] || fail "/usr/bin/kw9 --version says \"$out\", not kw9 $version"
  passed "kw9cli --version, kw9cli ports, kw9 --help and --version from /usr/bin"

  desktop-file-validate /usr/share/applications/kw9.desktop || fail "desktop-file-validate"
  check_manual_page /usr/bin/kw9 /usr/share/man/man1/kw9.1.gz "${kw9_sections[@]}"
  check_manual_page /usr/bin/kw9cli /usr/share/man/man1/kw9cli.1.gz "${kw9cli_sections[@]}"
  check_completion /usr/share/bash-completion/completions/kw9cli
  passed "desktop entry valid; man -l renders kw9(1) and kw9cli(1) as their --help; kw9cli completes"

  $sudo dpkg --purge kw9 || fail "dpkg --purge kw9"
  trap - EXIT
  dpkg-query -W -f='${Status}' kw9 2>/dev/null | grep -q 'install ok' && fail "kw9 still installed"
  for path in "${new_paths[@]}"; do
    [ -e "$path" ] || [ -L "$path" ] && fail "dpkg --purge kw9 left $path behind"
  done
  passed "removed, leaving none of its ${#new_paths[@]} new paths behind"
}

check_zip() {
  local build=$1 version zip dir
  make_package "$build" ZIP
  version=$(project_version "$build")
  zip="$build/kw9-${version}-windows.zip"
  [ -f "$zip" ] || fail "cpack made no $zip"
  dir=$(mktemp -d)
  trap "rm -rf '$dir'" EXIT
  unzip -q "$zip" -d "$dir" || fail "unzip $zip"
  local files
  files=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
  [ "$files" = "README.txt SHA256SUMS kw9.exe kw9cli.exe " ] || fail "$zip holds: $files"
  (cd "$dir" && sha256sum --strict -c SHA256SUMS) || fail "the checksums in $zip"
  [ "$(cut -d' ' -f3 "$dir/SHA256SUMS" | sort | tr '\n' ' ')" = "README.txt kw9.exe kw9cli.exe " ] ||
    fail "SHA256SUMS does not cover the other files"
  check_windows_readme "$dir/README.txt"
  passed "$(basename "$zip"): its files, their checksums and the Windows README"

  local out
  out=$(wine "$dir/kw9cli.exe" --help </dev/null) || fail "wine kw9cli.exe --help exits $?"
  grep -q "^usage: kw9cli" <<<"$out" || fail "kw9cli.exe --help prints no usage"
  # kw9.exe --help answers where its output goes and opens no window.
  out=$(timeout 60 wine "$dir/kw9.exe" --help </dev/null) || fail "wine kw9.exe --help exits $?"
  grep -q "^usage: kw9 " <<<"$out" || fail "kw9.exe --help prints no usage"
  wine "$dir/kw9.exe" </dev/null >"$dir/kw9.log" 2>&1 &
  local window_pid=$! shown="" why="no window within 60 s"
  for _ in $(seq 300); do
    shown=$(xdotool search --onlyvisible --pid "$window_pid" --name '^kw9$' 2>/dev/null) && break
    kill -0 "$window_pid" 2>/dev/null || { why="it ended without one"; break; }
    sleep 0.2
  done
  kill "$window_pid" 2>/dev/null
  wait "$window_pid" 2>/dev/null
  [ -n "$shown" ] || { cat "$dir/kw9.log"; fail "kw9.exe from $zip showed no window under Wine: $why"; }
  passed "kw9cli.exe --help, kw9.exe --help and kw9.exe's window under Wine"
}

# A Windows command's output as Linux text: no CR at the line ends.
wine_out() { wine "$@" </dev/null | tr -d '\r'; }

# Where the installer puts kw9 in the Wine prefix, and its Apps entry.
drive_c="${WINEPREFIX:-}/drive_c"
install_dir="$drive_c/Program Files/kw9"
start_menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/kw9"
apps_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kw9'

# Whatever a failed run left in the prefix, so that the next one starts clean.
remove_install() {
  [ -f "$install_dir/Uninstall.exe" ] &&
    timeout 60 wine "$install_dir/Uninstall.exe" /S '_?=C:\Program Files\kw9' </dev/null >/dev/null 2>&1
  rm -rf "$install_dir" "$start_menu"
  wine reg delete "$apps_key" /f </dev/null >/dev/null 2>&1
  wine reg delete 'HKLM\Software\the kw9 developers' /f </dev/null >/dev/null 2>&1
}

# The keys an installer writes to: the vendors' and the Apps list.
registry_keys() {
  {
    wine_out reg query 'HKLM\Software'
    wine_out reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  } | grep '^HKEY' | sort
}

check_installer() {
  local build=$1 version setup
  [ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set"
  make_package "$build" NSIS
  version=$(project_version "$build")
  setup="$build/kw9-${version}-setup.exe"
  [ -f "$setup" ] || fail "cpack made no $setup"
  local dir=$install_dir menu=$start_menu key=$apps_key
  remove_install
  trap remove_install EXIT

  # The registry's keys the uninstaller must leave as they were.
  local keys_before
  keys_before=$(registry_keys)

  # A question the silent install should not ask waits for ever: time-limited.
  timeout 60 wine "$setup" /S </dev/null || fail "wine $(basename "$setup") /S exits $?"
  local files
  files=$(cd "$dir" 2>/dev/null && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
  [ "$files" = "README.txt SHA256SUMS Uninstall.exe kw9.exe kw9cli.exe " ] ||
    fail "the silent install put into $dir: ${files:-nothing}"
  (cd "$dir" && sha256sum --quiet --strict -c SHA256SUMS) || fail "the installed files' checksums"
  check_windows_readme "$dir/README.txt"
  [ -f "$menu/kw9.lnk" ] || fail "no Start menu entry $menu/kw9.lnk"
  local entry
  entry=$(wine_out reg query "$key") || fail "no Apps entry $key"
  grep -qE "DisplayName +REG_SZ +kw9$" <<<"$entry" || fail "Apps entry without the name kw9: $entry"
  grep -qE "DisplayVersion +REG_SZ +$version$" <<<"$entry" || fail "Apps entry without version $version"
  grep -qF 'Uninstall.exe' <<<"$entry" || fail "Apps entry without the uninstaller: $entry"
  passed "$(basename "$setup") /S: its files, the Start menu entry and the Apps entry"

  # The programs from where the Start menu starts them.
  local out
  out=$(wine_out "$dir/kw9cli.exe" --version)
  [ "$out" = "kw9cli $version" ] || fail "kw9cli.exe --version says \"$out\", not kw9cli $version"
  out=$(timeout 60 wine "$dir/kw9.exe" --version </dev/null | tr -d '\r')
  [ "$out" = "kw9 $version" ] || fail "kw9.exe --version says \"$out\", not kw9 $version"
  out=$(timeout 60 wine "$dir/kw9.exe" --help </dev/null) || fail "kw9.exe --help exits $?"
  grep -q "^usage: kw9 " <<<"$out" || fail "kw9.exe --help prints no usage"
  # icotool reads a PNG image only from a file, not from a pipe.
  local icon
  icon=$(mktemp --suffix=.ico)
  wrestool -x -t 14 "$dir/kw9.exe" >"$icon"
  out=$(icotool -l "$icon" | sed -n 's/.*--width=\([0-9]*\) .*--bit-depth=\([0-9]*\).*/\1x\2/p' | tr '\n' ' ')
  rm -f "$icon"
  [ "$out" = "16x32 24x32 32x32 48x32 256x32 " ] || fail "kw9.exe's icon has the images $out"
  passed "kw9cli.exe --version, kw9.exe --version and --help, kw9.exe's icon sizes"

  # The uninstaller copies itself away and returns at once; the copy removes
  # the rest.
  wine "$dir/Uninstall.exe" /S </dev/null || fail "Uninstall.exe /S exits $?"
  for _ in $(seq 150); do
    [ -e "$dir" ] || [ -e "$menu" ] || break
    sleep 0.2
  done
  [ -e "$dir" ] && fail "the uninstaller left $dir: $(cd "$dir" && find . -type f | tr '\n' ' ')"
  [ -e "$menu" ] && fail "the uninstaller left $menu"
  local keys_after
  keys_after=$(registry_keys)
  [ "$keys_after" = "$keys_before" ] ||
    fail "the uninstaller left registry keys: $(comm -13 <(echo "$keys_before") <(echo "$keys_after"))"
  trap - EXIT
  passed "Uninstall.exe /S removed the files, the Start menu entry and the Apps entry"
}

case "${1:-}:${2:-}" in
  deb:?*) check_deb "$2" ;;
  zip:?*) check_zip "$2" ;;
  installer:?*) check_installer "$2" ;;
  manpage:?*) [ $# -ge 4 ] && check_manual_page "${@:2}" ;;
  completion:?*) check_completion "$2" ;;
  *)
    echo "usage: check_packages.sh deb|zip|installer BUILD_DIR | manpage PROGRAM PAGE SECTION..." \
      "| completion SCRIPT" >&2
    exit 2
    ;;
esac
