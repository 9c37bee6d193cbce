#!/bin/sh
# Every man page of the build renders with man -l without a single groff
# warning (all of them enabled),
# and every program of the installation has its page and its completion.
# Usage: man_pages_test.sh BUILD_DIR
set -u
build=$1
failed=0
fail() { echo "FAIL: $*"; failed=1; }

pages=$(find "$build/share/man" -type f -name '*.[1-9]' | sort)
[ -n "$pages" ] || fail "no man pages under $build/share/man"
for page in $pages; do
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=w -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
  text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2>/dev/null)
  for heading in NAME SYNOPSIS DESCRIPTION "SEE ALSO"; do
    case $page in *.5) [ "$heading" = SYNOPSIS ] && continue ;; esac
    printf '%s\n' "$text" | grep -qx "$heading" || fail "$page has no $heading section"
  done
done

ls "$build"/share/man/man5/*.5 >/dev/null 2>&1 || fail "no section 5 page for the settings files"
for program in "$build"/bin/tarnwick*; do
  name=${program##*/}
  [ -f "$build/share/man/man1/$name.1" ] || fail "$name has no man page"
  [ -f "$build/share/bash-completion/completions/$name" ] || fail "$name has no bash completion"
done
[ $failed -eq 0 ] && echo "all man pages render without warnings"
exit $failed
