#!/usr/bin/env bash
# The packages as a user meets them; ./run test calls this after each build.
#
#   check_packages.sh deb BUILD_DIR   the Debian package from the default build:
#                                     installs it (root, or sudo), runs what it
#                                     installed, removes it again
#   check_packages.sh zip BUILD_DIR   the Windows zip from the windows build:
#                                     needs Wine (WINEPREFIX, a running
#                                     wineserver) and an X display (DISPLAY)
#   check_packages.sh manpage PROGRAM PAGE
#                                     only the manual page check below
#
# deb and zip make their package with cpack first. Exits non-zero at the first check
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

# The words of a program's --help and those its rendered manual page shows
# from SYNOPSIS to SEE ALSO, headings' colons and "usage:" aside: a line the
# formatter swallowed or a character it ate shows as a difference.
help_words() { "$1" --help | sed '1s/^usage: //' | tr -d ':' | tr -s ' \n' '\n\n' | sed '/^$/d'; }
page_words() {
  MANWIDTH=200 man -E ascii -l "$1" 2>/dev/null |
    sed -n '/^SYNOPSIS$/,/^SEE ALSO$/p' | sed '1d;$d;/^DESCRIPTION$/d' |
    tr -d ':' | tr -s ' \n' '\n\n' | sed '/^$/d'
}

check_manual_page() {
  local program=$1 page=$2 rendered warnings
  warnings=$(mktemp)
  rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$warnings")
  [ -s "$warnings" ] && { cat "$warnings"; rm -f "$warnings"; fail "man -l $page warns"; }
  rm -f "$warnings"
  grep -q "^NAME" <<<"$rendered" || fail "man -l $page shows no NAME section"
  diff <(help_words "$program") <(page_words "$page") >/dev/null ||
    { diff <(help_words "$program") <(page_words "$page"); fail "$page differs from $program --help"; }
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
  check_manual_page /usr/bin/kw9 /usr/share/man/man1/kw9.1.gz
  check_manual_page /usr/bin/kw9cli /usr/share/man/man1/kw9cli.1.gz
  passed "desktop entry valid; man -l renders kw9(1) and kw9cli(1) as their --help"

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
  passed "$(basename "$zip"): its files and their checksums"

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

case "${1:-}:${2:-}" in
  deb:?*) check_deb "$2" ;;
  zip:?*) check_zip "$2" ;;
  manpage:?*) [ $# -eq 3 ] && check_manual_page "$2" "$3" ;;
  *)
    echo "usage: check_packages.sh deb|zip BUILD_DIR | manpage PROGRAM PAGE" >&2
    exit 2
    ;;
esac
