#!/usr/bin/env bash
# The status table in a shared segment through the program: --table keeps the
# Joins across runs (the next start cleans up what is no longer wanted),
# `joins` and `watch` read them from another process, `table --remove`
# removes the segment; segments of another layout or size, with loose access
# or a bad name are refused with exit status 2.
# Usage: shared-table.sh MCINJECT
set -u
mcinject=$1
work=$(mktemp -d)
seg=mcinject-test-$$
watcher=
cleanup() {
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  rm -f "/dev/shm/$seg" "/dev/shm/$seg-x"
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/check-lib.sh"
cd "$work"
# waitfor FILE TEXT: up to 20 s for TEXT to show up in FILE.
waitfor() {
  for _ in $(seq 200); do grep -qF -- "$2" "$1" && return 0; sleep 0.1; done
  fail "$1 never showed: $2"; cat "$1"
}

cat >first.scn <<'EOF'
map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1
map vlan 20 group 239.2.2.2 route 10.0.0.1 225.2.2.2
local local vlan 10 group 239.1.1.1
local local vlan 20 group 239.2.2.2
start l3
expect joins 2
EOF
# The agent comes back with VLAN 20's receiver gone.
cat >second.scn <<'EOF'
map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1
local local vlan 10 group 239.1.1.1
expect joins 2
start vpn
expect join * 225.1.1.1 Vlan10
expect joins 1
EOF

run 2 "$mcinject" joins "$seg"
has err "cannot open segment $seg"

run 0 "$mcinject" --table "$seg" --capacity 100 first.scn
[ "$(stat -c %a "/dev/shm/$seg")" = 600 ] || fail "mode $(stat -c %a "/dev/shm/$seg"), wanted 600"
run 0 "$mcinject" joins "$seg"
has out "225.2.2.2"
has out "2 joins"
run 0 "$mcinject" joins "$seg" --json
has out '{"interface":"Vlan10","group":"225.1.1.1","source":"0.0.0.0","value":1}'

"$mcinject" watch "$seg" --json >watch.out 2>watch.err &
watcher=$!
waitfor watch.err "watching $seg"
run 0 "$mcinject" --table "$seg" second.scn
waitfor watch.out '{"event":"remove","join":{"interface":"Vlan20","group":"225.2.2.2"'
kill -INT "$watcher"; wait "$watcher" || fail "watch exited $?"; watcher=
run 0 "$mcinject" joins "$seg"
has out "1 join"

# Segments that are not ours to use.
cp "/dev/shm/$seg" "/dev/shm/$seg-x"
chmod 600 "/dev/shm/$seg-x"
truncate -s -128 "/dev/shm/$seg-x"
run 2 "$mcinject" joins "$seg-x"
has err "bytes but its header says"
run 2 "$mcinject" --table "$seg-x" first.scn
has err "mcinject: --table: segment $seg-x is"
cp "/dev/shm/$seg" "/dev/shm/$seg-x"
printf '\x02' | dd of="/dev/shm/$seg-x" bs=1 seek=8 conv=notrunc status=none
run 2 "$mcinject" joins "$seg-x"
has err "has layout version 2 with 128-byte slots; this program reads version 1"
printf 'XXXXXXXX' | dd of="/dev/shm/$seg-x" bs=1 seek=0 conv=notrunc status=none
run 2 "$mcinject" --table "$seg-x" first.scn
has err "is not a Join table (bad magic number)"
cp "/dev/shm/$seg" "/dev/shm/$seg-x"
chmod 622 "/dev/shm/$seg-x"
run 2 "$mcinject" --table "$seg-x" first.scn
has err "is writable by group or others (mode 0622): refused"
run 2 "$mcinject" joins "bad/name"
has err "segment name 'bad/name' has the character '/'"

run 0 "$mcinject" table "$seg" --remove
run 2 "$mcinject" table "$seg" --remove
has err "cannot remove segment $seg"
exit $failed
