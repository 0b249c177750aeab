# Helpers the shell-driven scenario checks share; sourced, not run. The
# caller has cd'ed into its scratch directory and exits with $failed.
failed=0
fail() { echo "FAILED: $*"; failed=1; }
# run WANT_STATUS CMD...: runs CMD, output in out/err, checks the status.
run() {
  local want=$1
  shift
  "$@" >out 2>err
  local rc=$?
  [ "$rc" = "$want" ] || { fail "'$*' exited $rc, wanted $want"; cat out err; }
}
# has FILE TEXT: FILE holds TEXT.
has() { grep -qF -- "$2" "$1" || { fail "$1 lacks: $2"; cat "$1"; }; }
