#!/usr/bin/env bash
# scripts/run installs where the packaged program keeps the user's files: the same data
# root rule as the program's (an absolute $XDG_DATA_HOME, else ~/.local/share).
#   check-data-home.sh SOURCE_DIR
set -euo pipefail
source "$1/scripts/deps.sh"
fail() { echo "FAILED: $*" >&2; exit 1; }
check() {  # name, XDG_DATA_HOME ("-" for unset), expected
  local got
  if [ "$2" = "-" ]; then got=$(unset XDG_DATA_HOME; HOME=/home/u tarvok_data_home)
  else got=$(XDG_DATA_HOME="$2" HOME=/home/u tarvok_data_home); fi
  [ "$got" = "$3" ] || fail "$1: got '$got', expected '$3'"
}
check "unset" - /home/u/.local/share
check "empty" "" /home/u/.local/share
check "absolute" /x/data /x/data
check "relative is ignored" rel/data /home/u/.local/share
# The script itself takes its folder from that rule, not from a path of its own.
grep -q '^data_home="$(tarvok_data_home)"$' "$1/scripts/run" || fail "scripts/run does not use tarvok_data_home"
grep -q '^home="${TARVOK_HOME:-$data_home/tarvok}"$' "$1/scripts/run" || fail "scripts/run's program folder"
echo "data home OK"
