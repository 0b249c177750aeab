#!/usr/bin/env bash
# The prompt, through a terminal (tmux): Tab completes keywords, a unique
# prefix abbreviates, `?` lists what may come next and keeps the line, an
# unknown command gets a suggestion and errors read `% message`, Ctrl-C
# abandons the line and the session goes on, and every line is in the
# history file as soon as it is entered. Waits by polling the screen.
# Usage: prompt.sh MCINJECT
set -u
mcinject=$1
command -v tmux >/dev/null || { echo "tmux is missing (scripts/deps.sh installs it)"; exit 1; }
work=$(mktemp -d)
t() { tmux -S "$work/tmux.sock" -f /dev/null "$@"; }
trap 't kill-server 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work  # the history file goes there
unset TMUX         # a test run from inside tmux starts a server of its own
failed=0
# The pane's shell writes the program's exit status to a file: tmux may mark
# the pane dead and then never collect the status of the process it ran.
t new-session -d -x 150 -y 60 "'$mcinject'; echo \$? > '$work/status'" || exit 1
t set-option -g remain-on-exit on >/dev/null

screen() { t capture-pane -p -S -300; }
# wait_for TEXT [N]: until the screen shows TEXT N times (default 1), 20 s at most.
wait_for() {
  local i
  for ((i = 0; i < 400; i++)); do
    (($(screen | grep -cF -- "$1") >= ${2:-1})) && return 0
    sleep 0.05
  done
  echo "FAILED: the screen never showed (${2:-1} times): $1"
  screen
  failed=1
  exit 1
}
# Keys go in once the editor waits at a fresh prompt (the last line shown):
# before that the terminal is not in the editor's mode, and Ctrl-C or Tab
# would mean something else.
wait_prompt() {
  local i
  for ((i = 0; i < 400; i++)); do
    [ "$(screen | grep -v '^$' | tail -n 1)" = "mcinject>" ] && return
    sleep 0.05
  done
}
keys() {
  wait_prompt
  t send-keys "$@"
}

keys 'map vlan 10 route 10.0.0.1 225.1.1.1' Enter
keys 'loc' Tab 'local vlan 10' Enter               # Tab: local
keys 'sta' Tab 'l3' Enter                           # Tab: start
keys 'sh jo' Enter                                  # show joins
wait_for "1 join"
keys 'st' Tab                                       # three candidates: listed
wait_for "start  stop  step"
t send-keys C-u 'show ?'
wait_for "changeset  the overlay VLAN groups waiting for review"
t send-keys 'in' Tab Enter                          # the line kept: show inputs
wait_for "# the L3 path runs on local status 'local'"
keys 'no map vlan 10' C-c                           # abandoned, not run
wait_for "no map vlan 10^C"
keys 'show inputs' Enter
wait_for "map vlan 10 route 10.0.0.1 225.1.1.1 tunnel vxlan" 2
keys 'mapp' Enter
wait_for "% unknown command 'mapp' (did you mean 'map'?)"

# The history file holds every line entered so far, and not the abandoned one.
history=$HOME/.mcinject_history
for line in 'local local vlan 10' 'start l3' 'sh jo' 'show inputs' 'mapp'; do
  grep -qxF -- "$line" "$history" || { echo "FAILED: the history lacks: $line"; failed=1; }
done
grep -qF 'no map vlan 10' "$history" && { echo "FAILED: the abandoned line is in the history"; failed=1; }

# A Ctrl-D that lands while the editor is still switching the terminal's mode
# may be taken as a plain character: it is pressed again then, as a person
# would.
keys C-d
status=
for ((i = 1; i < 400; i++)); do
  ((i % 40 == 0)) && t send-keys C-d
  [ -s "$work/status" ] && status=$(cat "$work/status") && break
  sleep 0.05
done
[ "$status" = 2 ] || { echo "FAILED: exit status $status, wanted 2 (a bad line was entered)"; screen; failed=1; }
exit $failed
