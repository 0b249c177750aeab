#!/usr/bin/env bash
# The program's options and inputs other than one scenario file: --help,
# --version, bad options, unreadable files, standard input, several files,
# --trace / --trace-file, --flit and the Flit reader, output paths that must
# not be written, and -c.
# Usage: options.sh MCINJECT
set -u
mcinject=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/check-lib.sh"
cd "$work"

run 0 "$mcinject" --help
has out "--trace-file"
has out "--flit"
run 0 "$mcinject" --version
grep -qE '^mcinject [0-9]+\.[0-9]+\.[0-9]+$' out || fail "--version printed: $(cat out)"
run 2 "$mcinject" --no-such-option
run 2 "$mcinject" --trace 'Nope=7'
has err "mcinject: --trace: unknown trace handle 'Nope'"

# A file that cannot be read.
run 2 "$mcinject" missing.scn
has err "missing.scn:0: cannot read file: No such file or directory"
mkdir adir
run 2 "$mcinject" adir
has err "adir:0: cannot read file: Is a directory"

# Output paths: never an input, a directory or a file of another kind;
# refused before anything is written.
printf 'show joins\n' >keep.scn
cp keep.scn keep.orig
run 2 "$mcinject" --flit keep.scn keep.scn
has err "mcinject: --flit: refusing to write 'keep.scn': it is the input 'keep.scn'"
run 2 "$mcinject" --trace '*=7' --trace-file keep.scn keep.scn
has err "mcinject: --trace-file: refusing to write 'keep.scn': it is the input 'keep.scn'"
run 2 "$mcinject" --flit keep.scn - <keep.scn
has err "mcinject: --flit: refusing to write 'keep.scn': it is standard input"
run 2 "$mcinject" --flit keep.scn -c 'show joins'
has err "mcinject: --flit: refusing to overwrite 'keep.scn': it is not a Flit trace file"
printf 'trace file self.scn\n' >self.scn
cp self.scn self.orig
run 2 "$mcinject" self.scn
has err "self.scn:1: trace file: refusing to write 'self.scn': it is the input 'self.scn'"
cmp -s keep.scn keep.orig && cmp -s self.scn self.orig || fail "an input was written to"
run 2 "$mcinject" --flit adir -c 'show joins'
has err "mcinject: --flit: cannot write 'adir': Is a directory"
run 2 "$mcinject" -c 'trace file adir'
has err "-c:1: trace file: cannot write 'adir': Is a directory"

# -c: commands as one scenario, keywords abbreviated as at the prompt.
run 0 "$mcinject" -c 'map vlan 10 route 10.0.0.1 225.1.1.1' -c 'loc local vlan 10' -c 'sta l3' -c 'sh jo'
has out "1 join"
run 2 "$mcinject" -c 'mapp vlan 10'
has err "-c:1: unknown command 'mapp' (did you mean 'map'?)"
run 2 "$mcinject" -c 's'
has err "-c:1: ambiguous 's' (sbd, show, start, step or stop)"
run 2 "$mcinject" -c 'show joins' keep.scn

# Standard input, named '-' in messages.
printf 'map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1\nlocal local vlan 10 group 239.1.1.1\nstart l3\nshow joins\n' >in.scn
run 0 "$mcinject" - <in.scn
has out "1 join"
printf 'start l3\nmapp\n' | "$mcinject" >out 2>err
[ $? = 2 ] || fail "bad line on standard input"
has err "-:2: unknown command 'mapp'"

# Several files: each is a scenario of its own; a bad line stops the run.
printf 'gmp * 225.1.1.1 Vlan10\nexpect joins 1\n' >a.scn
printf 'expect joins 0\nbogus\n' >b.scn
printf 'show joins\n' >c.scn
run 2 "$mcinject" a.scn b.scn c.scn
has err "b.scn:2: unknown command 'bogus'"
has err "mcinject: stopped after b.scn; not run: c.scn"
grep -q "no joins" out && fail "c.scn ran after the bad line of b.scn"
run 2 "$mcinject" --keep-going a.scn b.scn c.scn
has out "no joins"

# Text trace to a file, from the command line and from a scenario.
cat >trace.scn <<'SCN'
map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1
trace Pim::L3InjectSm=7
start l3
local local vlan 10 group 239.1.1.1
trace file second.trace
no local local vlan 10 group 239.1.1.1
trace off
SCN
run 0 "$mcinject" --trace-file first.trace trace.scn
has first.trace "Injecting Join for underlayRoute"
has second.trace "Deleting Join for underlayRoute"
[ -s err ] && { fail "trace went to standard error"; cat err; }
run 0 "$mcinject" --trace '*=7' --trace-file cli.trace in.scn
has cli.trace "Injecting Join for underlayRoute"

# The VPN path's walk events, from the command line to a file.
printf 'map vlan 10 group 239.1.1.1 route 10.0.0.1 225.1.1.1\nstart vpn\nlocal local vlan 10 group 239.1.1.1\n' >vpn.scn
run 0 "$mcinject" --trace 'VpnInjectSm=7' --trace-file vpn.trace vpn.scn
has vpn.trace "traceEventwalkFinished"
grep -q "Injecting Join" vpn.trace && fail "the Join writer's handle was not asked for"
run 0 "$mcinject" --flit vpn.flit vpn.scn
run 0 "$mcinject" flit vpn.flit
has out "Injecting Join for underlayRoute 0.0.0.0, 225.1.1.1, Vlan10"
# The ring buffer keeps the walk event's number, not its name.
has out "VpnInjectReviewSm::traceEvent(Keel::WalkSmBase::TraceEvent) const: traceEvent1"

# The binary ring-buffer trace, and the reader.
run 0 "$mcinject" --flit ring.flit in.scn
run 0 "$mcinject" flit ring.flit
has out "Injecting Join for underlayRoute 0.0.0.0, 225.1.1.1, Vlan10"
printf 'not a trace' >junk.flit
run 2 "$mcinject" flit junk.flit
has err "mcinject flit: "
run 2 "$mcinject" flit missing.flit

exit $failed
