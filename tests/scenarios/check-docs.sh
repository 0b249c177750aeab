#!/usr/bin/env bash
# The samples of README.md and docs/*.md, run and compared with what they
# show. A sample is a fenced block whose first line starts with "$ ": each
# "$ " line is a command (a here-document `<<'EOF'` takes the lines up to its
# end marker with it) and the lines after it, up to the next command or the
# end of the block, are what it prints (standard output and error, as a
# terminal shows them). The blocks of one file run in order in one scratch
# directory that holds build/tools/mcinject/mcinject (the program under
# test) and examples/. Pointer values (0x...) are not compared.
# With --update, the docs are rewritten with what the samples print now
# (after a change that moves trace lines, say); review the diff.
# Usage: check-docs.sh [--update] MCINJECT SOURCE_DIR
set -u
update=0
[ "${1:-}" = --update ] && { update=1; shift; }
mcinject=$(realpath "$1")
src=$2
failed=0
normalize() { sed -E 's/0x[0-9a-f]{6,}/0x.../g'; }

check_doc() {
  local doc=$1 work
  work=$(mktemp -d)
  mkdir -p "$work/build/tools/mcinject"
  ln -s "$mcinject" "$work/build/tools/mcinject/mcinject"
  ln -s "$src/examples" "$work/examples"
  local inBlock=0 checked=0 first=0 cmd="" cmdLine=0 expected="" marker="" lineNo=0 samples=0 rewritten=""
  run_cmd() {
    [ -z "$cmd" ] && return
    samples=$((samples + 1))
    local raw actual want
    raw=$(cd "$work" && HOME=$work MCINJECT_TOGGLE_DIR= bash -c "$cmd" 2>&1)
    actual=$(printf '%s' "$raw" | normalize)
    want=$(printf '%s' "$expected" | normalize)
    if [ "$actual" = "$want" ]; then
      rewritten+=$expected
    elif [ -n "$raw" ]; then
      rewritten+=$raw$'\n'
    fi
    if [ "$actual" != "$want" ] && ((!update)); then
      echo "FAILED: ${doc#"$src"/}:$cmdLine: \$ ${cmd%%$'\n'*}"
      diff <(printf '%s\n' "$want") <(printf '%s\n' "$actual") | sed 's/^/    /'
      failed=1
    fi
    cmd=""
    expected=""
  }
  while IFS= read -r line || [ -n "$line" ]; do
    lineNo=$((lineNo + 1))
    if [[ -n $marker ]]; then
      rewritten+=$line$'\n'
      cmd+=$'\n'$line
      [[ $line == "$marker" ]] && marker=""
      continue
    fi
    if [[ $line == '```'* ]]; then
      ((inBlock && checked)) && run_cmd
      rewritten+=$line$'\n'
      inBlock=$((1 - inBlock))
      checked=0
      first=1
      continue
    fi
    if ((inBlock && first)); then
      first=0
      [[ $line == '$ '* ]] && checked=1
    fi
    if ((!inBlock || !checked)); then
      rewritten+=$line$'\n'
      continue
    fi
    if [[ $line == '$ '* ]]; then
      run_cmd
      rewritten+=$line$'\n'
      cmd=${line#\$ }
      cmdLine=$lineNo
      [[ $cmd =~ \<\<\'([A-Za-z_]+)\' ]] && marker=${BASH_REMATCH[1]}
      continue
    fi
    expected+=$line$'\n'
  done <"$doc"
  rm -rf "$work"
  if ((update)) && [ "$rewritten" != "$(cat "$doc")"$'\n' ]; then
    printf '%s' "$rewritten" >"$doc"
    echo "${doc#"$src"/}: rewritten"
  fi
  echo "${doc#"$src"/}: $samples samples"
}

for doc in "$src/README.md" "$src"/docs/*.md; do
  check_doc "$doc"
done
exit $failed
