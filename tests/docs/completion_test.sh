#!/bin/bash
# The bash completions, driven as bash-completion drives them: COMP_WORDS and
# COMP_CWORD set, the completion function called, COMPREPLY checked.
# Usage: completion_test.sh COMPLETIONS_DIR BIN_DIR
set -u
completions=$1
bin=$2
failed=0
temp=$(mktemp -d)
trap 'rm -rf "$temp"' EXIT

for script in "$completions"/*; do
  # shellcheck source=/dev/null
  source "$script"
done

# complete WORD... : the candidates for the last word, one a line, sorted.
complete_line()
{
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  local function
  function=$(complete -p "${1##*/}" | sed 's/.*-F \([^ ]*\) .*/\1/')
  "$function" "${1##*/}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# expect DESCRIPTION EXPECTED WORD...: the candidates are exactly EXPECTED.
expect()
{
  local what=$1 expected=$2
  shift 2
  local got
  got=$(complete_line "$@")
  if [[ $got != "$(printf '%s' "$expected" | sort)" ]]; then
    echo "FAIL: $what: expected [$expected], got [$got]"
    failed=1
  fi
}

# offers DESCRIPTION CANDIDATE WORD...: CANDIDATE is among the candidates.
offers()
{
  local what=$1 candidate=$2
  shift 2
  if ! complete_line "$@" | grep -qxF -- "$candidate"; then
    echo "FAIL: $what: $candidate not offered"
    failed=1
  fi
}

# A temporary installation reached through a link from another directory, as
# the Debian package links /usr/bin to /opt: chip names come from beside the
# resolved program, not from beside the link.
mkdir -p "$temp/opt/bin/ChipProperties" "$temp/usr/bin" "$temp/ports/bin"
cp "$bin/tarnwickcmd" "$temp/opt/bin/"
touch "$temp/opt/bin/ChipProperties/alpha.txt" "$temp/opt/bin/ChipProperties/beta.txt" \
      "$temp/opt/bin/ChipProperties/notes.md"
ln -s "$temp/opt/bin/tarnwickcmd" "$temp/usr/bin/tarnwickcmd"
# A program whose port list is known: the --ports format of the real one.
printf '#!/bin/sh\n[ "$1" = --ports ] && printf "/dev/ttyUSB7  FTDI TTL-232R\\n/dev/ttyACM0\\n"\n' \
  > "$temp/ports/bin/tarnwickcmd"
chmod +x "$temp/ports/bin/tarnwickcmd"
touch "$temp/app.fwpkg" "$temp/apple.xml"

tool=$temp/usr/bin/tarnwickcmd
expect "operations" $'--burn\n--erase\n--read\n--ports\n-h\n-help\n-v\n-version' "$tool" ""
expect "an operation by its start" "--burn" "$tool" "--b"
expect "chip names of the installation" $'alpha\nbeta' "$tool" --burn -n ""
expect "chip names by their start" "alpha" "$tool" --erase --name a
expect "chip names after other options" $'alpha\nbeta' "$tool" --burn -b 921600 -n ""
expect "no chip names without ChipProperties" "" "$temp/ports/bin/tarnwickcmd" --burn -n ""
PATH="$temp/usr/bin:$PATH" expect "chip names of the program found on PATH" $'alpha\nbeta' tarnwickcmd --burn -n ""
expect "the mode" "serial" "$tool" --burn -m ""
expect "the ports the program lists" $'/dev/ttyACM0\n/dev/ttyUSB7' "$temp/ports/bin/tarnwickcmd" --burn -m serial ""
expect "ports by their start" "/dev/ttyUSB7" "$temp/ports/bin/tarnwickcmd" --read --mode serial /dev/ttyU
expect "no ports after another mode" "" "$temp/ports/bin/tarnwickcmd" --burn -m usb ""
expect "files" "$temp/app.fwpkg" "$tool" --burn -f "$temp/app."
expect "files of --config" "$temp/app.fwpkg"$'\n'"$temp/apple.xml" "$tool" --burn --config "$temp/ap"
offers "options" "-onlyburn:" "$tool" --burn -n alpha ""
offers "options" "-readsize:" "$tool" --read -
expect "nothing after --ports" "" "$tool" --ports ""

# The companions offer every option their --help lists.
for program in tarnwick-sim tarnwick-pkg; do
  for option in $("$bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    offers "$program option" "$option" "$program" "${option:0:3}"
  done
done
expect "simulated families" $'vb27\nqn4180\ntypesix' tarnwick-sim --link /tmp/b --family ""
expect "package commands" $'info\nverify\nextract\npack\n-h\n--help\n-V\n--version' tarnwick-pkg ""
for command in info verify extract pack; do
  for option in $("$bin/tarnwick-pkg" "$command" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    offers "tarnwick-pkg $command option" "$option" tarnwick-pkg "$command" x --
  done
done
expect "pack takes no --family" "" tarnwick-pkg pack x --fam
expect "package families" $'vb27\nqn4180\ntypesix' tarnwick-pkg verify x.fwpkg --family ""
expect "layouts" $'normal\nnew' tarnwick-pkg pack x --layout ""
expect "package files" "$temp/app.fwpkg" tarnwick-pkg info "$temp/app."

# The station: every option its --help and its history command's list (the
# option lines, not the description that names the other's).
for option in $("$bin/tarnwick-station" --help | grep -E '^ +-' | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  offers "tarnwick-station option" "$option" tarnwick-station --burn "${option:0:3}"
done
for option in $("$bin/tarnwick-station" history --help | grep -E '^ +-' | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  offers "tarnwick-station history option" "$option" tarnwick-station history x.db "${option:0:3}"
done
expect "station operations and the history command" $'--burn\n--erase\n--read\nhistory' tarnwick-station ""
expect "a history file" "$temp/app.fwpkg" tarnwick-station --burn --history "$temp/app."
expect "the history to read" "$temp/app.fwpkg" tarnwick-station history "$temp/app."
expect "history options only after history" "" tarnwick-station history x.db --burn
PATH="$temp/ports/bin:$PATH" expect "the ports of a history" $'/dev/ttyACM0\n/dev/ttyUSB7' tarnwick-station history x.db --port ""
expect "no value to guess for a time-out" "" tarnwick-station --burn --board-timeout ""

[[ $failed -eq 0 ]] && echo "all completions as expected"
exit $failed
