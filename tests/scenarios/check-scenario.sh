#!/usr/bin/env bash
# Runs one scenario through mcinject and checks the outcome against the
# header comments of the scenario file:
#   # exit: N        the exit status wanted (default DEFAULT_EXIT, else 2: a bad line)
#   # args: ...      extra mcinject options, before the file
#   # stderr: TEXT   a whole line that standard error must hold (repeatable)
#   # stdout: TEXT   a whole line that standard output must hold (repeatable)
#   # stdout-lacks: TEXT  text that no line of standard output may contain
# The file is run from its own directory under its base name, so messages
# read "NAME.scn:LINE: ...".
# Usage: check-scenario.sh MCINJECT SCENARIO [DEFAULT_EXIT]
set -u
mcinject=$1
scenario=$2
default_exit=${3:-2}
dir=$(dirname "$scenario")
name=$(basename "$scenario")

header() { sed -n "s/^# $1: //p" "$scenario"; }
want_exit=$(header exit | head -n 1)
want_exit=${want_exit:-$default_exit}
read -r -a args <<<"$(header args | head -n 1)"

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
(cd "$dir" && "$mcinject" "${args[@]}" "$name") >"$out" 2>"$err"
rc=$?

failed=0
if [ "$rc" != "$want_exit" ]; then
  echo "exit status $rc, wanted $want_exit"
  failed=1
fi
if [ "$want_exit" != 0 ] && [ -z "$(header stderr)" ]; then
  echo "the scenario names no '# stderr:' line to look for"
  failed=1
fi
while IFS= read -r line; do
  [ -z "$line" ] && continue
  grep -qxF -- "$line" "$err" || { echo "standard error lacks: $line"; failed=1; }
done < <(header stderr)
while IFS= read -r line; do
  [ -z "$line" ] && continue
  grep -qxF -- "$line" "$out" || { echo "standard output lacks: $line"; failed=1; }
done < <(header stdout)
while IFS= read -r text; do
  [ -z "$text" ] && continue
  if grep -qF -- "$text" "$out"; then
    echo "standard output holds: $text"
    failed=1
  fi
done < <(header stdout-lacks)

if [ "$failed" != 0 ]; then
  echo "--- standard output"; cat "$out"
  echo "--- standard error"; cat "$err"
  exit 1
fi
exit 0
