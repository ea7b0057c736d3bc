#!/usr/bin/env bash
# Drives the pelox5-download bash completion the way bash does (COMP_WORDS and
# COMP_CWORD set, the function called) against a temporary HOME that holds a
# preferences file and a project tree; with more files, the pelox5-status and
# pelox5-check, pelox5-extract and pelox5-sim completions too, each loaded on its
# own as bash-completion loads it (pelox5-sim's options against its --help).
# Usage: check-completion.sh COMPLETION_FILE [STATUS_COMPLETION_FILE [CHECK_COMPLETION_FILE
#        [EXTRACT_COMPLETION_FILE [SIM_COMPLETION_FILE SIM_PROGRAM]]]]
set -uo pipefail

completion=$1
status_completion=${2-}
check_completion=${3-}
extract_completion=${4-}
sim_completion=${5-}
sim_program=${6-}
bash -n "$completion" || { echo "FAIL: syntax error in $completion"; exit 1; }
for file in "$status_completion" "$check_completion" "$extract_completion" "$sim_completion"; do
  [[ -z $file ]] || bash -n "$file" || { echo "FAIL: syntax error in $file"; exit 1; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
checks=0

# complete_words [ENV=VALUE...] -- WORD... : the replies, sorted, one a line.
# The word being completed is the last one.
# The first word names the program, and so which file and function are used.
complete_words() {
  local env=()
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  local file=$completion
  [[ $1 == pelox5-status ]] && file=$status_completion
  [[ $1 == pelox5-check ]] && file=$check_completion
  [[ $1 == pelox5-extract ]] && file=$extract_completion
  [[ $1 == pelox5-sim ]] && file=$sim_completion
  env -i PATH="${TEST_PATH:-$PATH}" HOME="$tmp/home" "${env[@]}" "$BASH" --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    function=_pelox5_download
    [[ $1 == pelox5-status ]] && function=_pelox5_status
    [[ $1 == pelox5-check ]] && function=_pelox5_check
    [[ $1 == pelox5-extract ]] && function=_pelox5_extract
    [[ $1 == pelox5-sim ]] && function=_pelox5_sim
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' check "$file" "$@" | sed '/^$/d' | LC_ALL=C sort
}

# expect NAME EXPECTED ACTUAL
expect() {
  checks=$((checks + 1))
  if [[ "$2" != "$3" ]]; then
    failures=$((failures + 1))
    printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "${2//$'\n'/ }" "${3//$'\n'/ }"
  fi
}

lines() { printf '%s\n' "$@" | sed '/^$/d'; }

# --- options and log levels -------------------------------------------------
expect "all options" "$(lines --deployment --help --loglevel --version -d -h -l -v | LC_ALL=C sort)" \
  "$(complete_words -- pelox5-download '')"
expect "long options" "$(lines --deployment --help --loglevel --version | LC_ALL=C sort)" \
  "$(complete_words -- pelox5-download --)"
expect "level after -l" "$(lines DEBUG)" "$(complete_words -- pelox5-download -l D)"
expect "all levels" "$(lines DEBUG FATAL INFO WARNING)" "$(complete_words -- pelox5-download -l '')"
expect "level after --LogLevel" "$(lines WARNING)" \
  "$(complete_words -- pelox5-download --LogLevel W)"
expect "-L is not -l" "" "$(complete_words -- pelox5-download -L W)"
expect "level after '--loglevel' '='" "$(lines INFO)" \
  "$(complete_words -- pelox5-download --loglevel = I)"
expect "level in one word" "$(lines --loglevel=FATAL)" \
  "$(complete_words -- pelox5-download --loglevel=F)"

# --- deployments from the preferences file ----------------------------------
root=$tmp/data/Projects
mkdir -p "$tmp/home/.config/Pelox5Apps" "$root/Sites/Site1/cfg" "$root/Sites/site2" \
  "$root/Sites/North Field" "$root/Sites/.hidden" "$tmp/home/Documents/Pelox5/docsite"
touch "$root/Sites/sitefile"
cat >"$tmp/home/.config/Pelox5Apps/Pelox5Apps.pref" <<EOF
{
  "DeploymentCfgName": "deployment.cfg",
  "LogLevel": "INFO",
  "PathDelimiter": "/",
  "ProjectRootFolder": "Sites",
  "ProjectRootPath": "$root"
}
EOF

expect "deployments in lower case, folders only" "$(lines site1 site2)" \
  "$(complete_words -- pelox5-download -d s)"
expect "upper-case word gives the lower-case name" "$(lines site1 site2)" \
  "$(complete_words -- pelox5-download -d Si)"
expect "all deployments" "$(lines 'north\ field' site1 site2)" \
  "$(complete_words -- pelox5-download --deployment '')"
expect "hidden folder on a leading dot" "$(lines .hidden)" \
  "$(complete_words -- pelox5-download -d .)"
expect "deployment after '--deployment' '='" "$(lines site2)" \
  "$(complete_words -- pelox5-download --deployment = site2)"
expect "deployment after a bare '='" "$(lines 'north\ field' site1 site2)" \
  "$(complete_words -- pelox5-download --deployment =)"
expect "deployment in one word" "$(lines -d=site1)" \
  "$(complete_words -- pelox5-download -d=site1)"
expect "deployment after other options" "$(lines site1)" \
  "$(complete_words -- pelox5-download -l DEBUG -d site1)"

if [[ -n $status_completion ]]; then
  expect "status: all options" \
    "$(lines --all --database --deployment --help --html --json --output --prometheus -a -d -h -o |
      LC_ALL=C sort)" \
    "$(complete_words -- pelox5-status '')"
  expect "status: deployments as the tool finds them" "$(lines site1 site2)" \
    "$(complete_words -- pelox5-status -d S)"
  expect "status: deployment in one word" "$(lines --deployment=site2)" \
    "$(complete_words -- pelox5-status --json --deployment=site2)"
  expect "status: output file" "$(lines "$root/Sites/sitefile")" \
    "$(complete_words -- pelox5-status -o "$root/Sites/sitef")"
  expect "status: page file" "$(lines "$root/Sites/sitefile")" \
    "$(complete_words -- pelox5-status --html "$root/Sites/sitef")"
  expect "status: no values after --json" "" "$(complete_words -- pelox5-status --json s)"
  expect "status: no connection strings offered" "" \
    "$(complete_words -- pelox5-status --database h)"
fi

if [[ -n $check_completion ]]; then
  expect "check: all options" \
    "$(lines --all --deployment --help --json --probe --scan-speed -a -d -h | LC_ALL=C sort)" \
    "$(complete_words -- pelox5-check '')"
  expect "check: deployments as the tool finds them" "$(lines site1 site2)" \
    "$(complete_words -- pelox5-check --probe -d S)"
  expect "check: deployment in one word" "$(lines --deployment=site2)" \
    "$(complete_words -- pelox5-check --deployment=site2)"
  expect "check: no values after --probe" "" "$(complete_words -- pelox5-check --probe s)"
fi

if [[ -n $extract_completion ]]; then
  expect "extract: long options" \
    "$(lines --csv --database --deployment --from --help --host-name --json --lines --loglevel \
      --since --to --units --until | LC_ALL=C sort)" \
    "$(complete_words -- pelox5-extract --)"
  expect "extract: deployments as the tool finds them" "$(lines site1 site2)" \
    "$(complete_words -- pelox5-extract --lines -d S)"
  expect "extract: levels" "$(lines WARNING)" "$(complete_words -- pelox5-extract -l w)"
  expect "extract: no record numbers offered" "" "$(complete_words -- pelox5-extract --from '')"
  expect "extract: no times offered" "" "$(complete_words -- pelox5-extract --csv --since '')"
  expect "extract: no connection strings offered" "" \
    "$(complete_words -- pelox5-extract --database '')"
fi

if [[ -n $sim_completion ]]; then
  expect "sim: the long options its --help lists" \
    "$("$sim_program" --help | grep -oE '^  (-h, )?--[a-z-]+' | grep -oE -- '--[a-z-]+' |
      LC_ALL=C sort)" \
    "$(complete_words -- pelox5-sim --)"
  expect "sim: speeds of the table" "$(lines 115200 1200 14400 1800 19200)" \
    "$(complete_words -- pelox5-sim --pty --speed 1)"
  touch "$tmp/session.raw"
  expect "sim: a file to replay" "$(lines "$tmp/session.raw")" \
    "$(complete_words -- pelox5-sim --replay "$tmp/sess")"
  expect "sim: no values after --tcp" "" "$(complete_words -- pelox5-sim --tcp '')"
fi

# Without python3 the preferences are read with sed; escapes are undone.
mkdir -p "$tmp/nopython" "$tmp/data/Quote\"d/Sites/alpha"
for tool in sed head; do ln -s "$(command -v "$tool")" "$tmp/nopython/$tool"; done
printf '{\n  "ProjectRootFolder": "Sites",\n  "ProjectRootPath": "%s"\n}\n' \
  "${tmp//\//\\/}/data/Quote\\\"d" >"$tmp/home/.config/Pelox5Apps/Pelox5Apps.pref"
expect "escaped path read with python3" "$(lines alpha)" "$(complete_words -- pelox5-download -d a)"
expect "escaped path read without python3" "$(lines alpha)" \
  "$(TEST_PATH=$tmp/nopython complete_words -- pelox5-download -d a)"

# XDG_CONFIG_HOME moves the preferences file.
mkdir -p "$tmp/xdg/Pelox5Apps"
printf '{"ProjectRootPath":"%s","ProjectRootFolder":"Projects","PathDelimiter":"/"}\n' \
  "$tmp/data" >"$tmp/xdg/Pelox5Apps/Pelox5Apps.pref"
expect "XDG_CONFIG_HOME" "$(lines sites)" \
  "$(complete_words XDG_CONFIG_HOME="$tmp/xdg" -- pelox5-download -d s)"
expect "XDG_CONFIG_HOME on one line without python3" "$(lines sites)" \
  "$(TEST_PATH=$tmp/nopython complete_words XDG_CONFIG_HOME="$tmp/xdg" -- pelox5-download -d s)"

# --- no preferences file yet: the documents folder ---------------------------
rm "$tmp/home/.config/Pelox5Apps/Pelox5Apps.pref"
expect "default documents folder" "$(lines docsite)" "$(complete_words -- pelox5-download -d '')"
mkdir -p "$tmp/docs/Pelox5/xdgsite"
expect "XDG_DOCUMENTS_DIR" "$(lines xdgsite)" \
  "$(complete_words XDG_DOCUMENTS_DIR="$tmp/docs" -- pelox5-download -d '')"
mkdir -p "$tmp/home/Dokumente/Pelox5/userdirsite"
echo 'XDG_DOCUMENTS_DIR="$HOME/Dokumente"' >"$tmp/home/.config/user-dirs.dirs"
expect "user-dirs.dirs" "$(lines userdirsite)" "$(complete_words -- pelox5-download -d '')"
expect "no project folder" "" "$(complete_words HOME="$tmp/none" -- pelox5-download -d '')"

echo "completion: $((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
