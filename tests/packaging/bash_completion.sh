#!/usr/bin/env bash
# Loads the bash completion of lanternquest-cli as bash-completion would (it sources the
# file named after the command) and checks what it offers: option values, folders for
# LOCATION and nothing for PATTERN, files for the options that name one, nothing for
# \\host and smb:// locations. Usage: bash_completion.sh COMPLETION_FILE
set -uo pipefail
source "$1" || exit 1
registered=$(complete -p lanternquest-cli) || exit 1
[[ $registered == "complete -F _lanternquest_cli lanternquest-cli" ]] || {
  echo "registered as: $registered"; exit 1; }

folder=$(mktemp -d) && trap 'rm -rf "$folder"' EXIT
mkdir "$folder/docs" "$folder/downloads" && touch "$folder/data.dat" "$folder/dull.txt"
cd "$folder" || exit 1

failed=0
# expect WORD... -> EXPECTED: the completions of the last word, sorted, space-separated.
expect() {
  local expected=${*: -1}
  COMP_WORDS=("${@:1:$#-2}")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _lanternquest_cli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
  got=${got% }
  if [[ $got != "$expected" ]]; then
    echo "FAIL: lanternquest-cli ${COMP_WORDS[*]:1}<TAB> offered [$got], expected [$expected]"
    failed=1
  fi
}

expect lanternquest-cli --for -- '--forget-index --format'
expect lanternquest-cli --forget-index d -- 'docs downloads'  # a location: folders
expect lanternquest-cli --format '' -- 'csv json plain'
expect lanternquest-cli --format = j -- json              # "--format=j", as bash splits it
expect lanternquest-cli --sort -s -- '-size'
expect lanternquest-cli -j 1 -- '1 10 11 12'
expect lanternquest-cli --load d -- 'data.dat docs downloads dull.txt'  # files and folders
expect lanternquest-cli '*.txt' d -- 'docs downloads'      # LOCATION: folders only
expect lanternquest-cli '*.txt' n -- network
expect lanternquest-cli d -- ''                            # PATTERN: a mask, nothing offered
# The values of options are not taken for PATTERN, in each spelling.
expect lanternquest-cli -j 4 --format=json --exclude .git -lj 2 '*.txt' d -- 'docs downloads'
expect lanternquest-cli --format = csv '*.txt' do -- 'docs downloads'
expect lanternquest-cli '*.txt' docs '' -- ''              # nothing after LOCATION
expect lanternquest-cli --load data.dat '*.txt' '' -- ''   # no LOCATION with --load
expect lanternquest-cli -- --x '' -- 'docs downloads network'  # "--" ends the options
expect lanternquest-cli '*.txt' '\\fileserv' -- ''
expect lanternquest-cli '*.txt' smb://host -- ''
expect lanternquest-cli '*.txt' smb : //host -- ''         # as COMP_WORDBREAKS splits it
expect lanternquest-cli --discover '' -- ''
((failed == 0)) && echo "bash completion: every case as expected"
exit $failed
