#!/usr/bin/env bash
# Exit status 3: an internal error. The program meets one when it runs out of
# memory. Here the address space is capped below the 1 GiB ring buffer that
# `--flit-bytes` asks for, so allocating it fails: the program must report an
# internal error and exit 3, not crash and not pass it off as a bad scenario.
# (Not run in sanitizer builds: their shadow memory needs the address space.)
# Usage: internal-error.sh MCINJECT
set -u
mcinject=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'show joins\n' >one.scn
(
  ulimit -v 262144 || exit 99
  exec "$mcinject" --flit ring.flit --flit-bytes 1073741824 one.scn
) >out 2>err
rc=$?
failed=0
[ "$rc" = 99 ] && { echo "cannot cap the address space here"; exit 77; }
[ "$rc" = 3 ] || { echo "exit status $rc, wanted 3"; failed=1; }
grep -qxF "mcinject: internal error: std::bad_alloc" err || { echo "standard error lacks the internal error"; failed=1; }
[ -s out ] && { echo "the scenario ran after the internal error"; failed=1; }
if [ "$failed" != 0 ]; then
  echo "--- standard output"; cat out
  echo "--- standard error"; cat err
fi
exit $failed
