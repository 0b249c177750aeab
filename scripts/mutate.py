#!/usr/bin/env python3
"""Fault injection: which tests catch which realistic faults.

Each fault replaces one unique code snippet under src/ or tools/ (the file is
found by the snippet, so the list survives file moves). For every fault in
turn the script applies it, rebuilds incrementally, runs ctest and records the
failing tests, then puts the file back. A fault that does not build is
reported as invalid (fix the fault, not the code).

  scripts/mutate.py --build build                 # every fault, table on stdout
  scripts/mutate.py --build build --only F07 F12  # some of them
  scripts/mutate.py --check                       # snippets still unique?
  scripts/mutate.py --build build --json out.json # results for a later --compare
  scripts/mutate.py --compare before.json after.json  # (a,b.json: merged)

Run it on a clean tree: the faulted file is restored from memory, not git.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

# (id, module, what goes wrong, snippet, replacement)
FAULTS = [
    # change rules and trackers (VPN)
    ("F01", "change rule", "a specific group in a VLAN served by an SBD VLAN is not recorded under the SBD VLAN",
     "    if (sbd) changeSet->vlanGroupIs(OverlayVlanGroup(*sbd, group));\n", "\n"),
    ("F02", "change rule", "a wildcard change that records one mapping does not bump the change count",
     "  if (recorded > 0) changeSet->changedInc(1);", "  if (recorded > 1) changeSet->changedInc(1);"),
    ("F03", "change rule", "a local status lists the IPv6 wildcard: specific groups not active",
     "groups.contains(kIpv4Wildcard) || groups.contains(kIpv6Wildcard)", "groups.contains(kIpv4Wildcard)"),
    ("F04", "change rule", "a local VLAN entry with no group counts as active",
     "    if (!e.vlan->group().empty()) return found(e.status->name());", "    return found(e.status->name());"),
    ("F05", "change rule", "the 'no SBD VLAN' value read as SBD VLAN 1",
     "  if (entry == VlanToSbd{}) return std::nullopt;\n", "\n"),
    ("F06", "change rule", "an SBD VLAN wants a specific group when a member VLAN has any group",
     "    if (groupActive(member, group)) return true;", "    if (vlanActive(member)) return true;"),
    ("F07", "change rule", "tunnel interfaces count as non-tunnel ones",
     "  return !::Multicast::Tunnel::McastTunnelIntfId::isMcastTunnelIntfId(intf);", "  return intf == intf;"),
    ("F08", "tracker", "a peer source losing its last non-tunnel interface by replacement is not reported",
     "  if (differs) reportGroup();", "  (void)differs;"),
    ("F09", "tracker", "peer statuses tracked at group level (interfaces ignored)",
     "  if (status) peerSmIs(Mode::interfaceLevel,", "  if (status) peerSmIs(Mode::groupLevel,"),
    ("F10", "tracker", "a tracker asked for with another status under a taken name: the old one is returned",
     "    if (tracker->membershipJoinStatus() != status || tracker->mcastIrbStatus() != mcastIrbStatus ||",
     "    if (tracker->mcastIrbStatus() != mcastIrbStatus ||"),
    ("F11", "tracker", "SBD VLAN state replaced by one with as many, different members: not recorded",
     "  if (oldMembers != newMembers && state) handleSbdStatus();",
     "  if (oldMembers.size() != newMembers.size() && state) handleSbdStatus();"),
    ("F12", "status index", "a VLAN entry replaced under the same id keeps the old object",
     "    at->vlan = std::move(vlan);  // the same VLAN id under another object", "    (void)vlan;"),
    ("F13", "status index", "a removed status leaves its VLANs in the index",
     "    std::erase_if(entries, [status](Entry const& e) { return e.status == status; });", "    (void)entries;"),
    # external state machines
    ("F14", "SBD inverse", "start-up keeps a VLAN listed under the wrong SBD VLAN",
     "      if (!applied || !(*applied == sbd)) stale.emplace_back(sbd, vlan);",
     "      if (!applied) stale.emplace_back(sbd, vlan);"),
    ("F15", "SBD inverse", "an SBD VLAN state left empty is kept",
     "      if (state->vlanId().empty()) sbdToVlanStatus_->sbdVlanStateDel(old);", ""),
    # reviewer
    ("F16", "reviewer", "a route dropped from a replaced mapping keeps its Join",
     "    if (!mapping->multicastGroup(r)) handleMulticastGroup(r);  // gone: withdrawn",
     "    if (!mapping->multicastGroup(r) && false) handleMulticastGroup(r);"),
    # F17, F21, F28 survive every test: not reachable today (a reactor's mapping
    # keeps its VLAN; nothing stops the dedup table between the start-up read
    # and the cleanup; the start-up read is skipped when a corruption is armed).
    ("F17", "reviewer", "a mapping moved to another VLAN keeps the old VLAN's Joins",
     "    injectRouteDelAll();\n    if (mapping) {", "    if (mapping) {"),
    ("F18", "reviewer", "a walk that yields resumes from the start but skips the VLAN review",
     "    if (key.vlanId() != lastReviewed && firstReview(key.vlanId())) {",
     "    if (key.vlanId() != lastReviewed && firstReview(key.vlanId()) && processed == 0) {"),
    ("F19", "reviewer", "a route is injected while the mapping no longer lists it",
     "  if (!overlayMembership_ || !mapping || !mapping->multicastGroup(r) || !owner_ ||",
     "  if (!overlayMembership_ || !mapping || !owner_ ||"),
    # Join writer
    ("F20", "Join writer", "a released Join is not deleted from the table",
     "  status->membershipDel(key);\n  ownChangeEnds(*status, before);", "  ownChangeEnds(*status, before);"),
    ("F21", "Join writer", "start-up trusts the table after the dedup table stopped notifying",
     "  return mirroring_ && now == lastOwnEpoch_ && ownSince_ <= epoch;", "  return now == lastOwnEpoch_ && ownSince_ <= epoch;"),
    ("F22", "Join writer", "another writer's change inside an own write goes unnoticed",
     "  if (now - before > 1) ownSince_ = now;", "  (void)before;"),
    ("F23", "Join key", "toggle ignored: Joins always keyed by the route's source",
     "  Wirl::IpGenAddr const source = togglePimL3TunnelInjectEnabled() ? Wirl::IpGenAddr(route.groupAddr().af())",
     "  Wirl::IpGenAddr const source = false ? Wirl::IpGenAddr(route.groupAddr().af())"),
    # L3 path
    ("F24", "L3 rule", "any group of a VLAN matches a specific mapping",
     "  if (!entry->group().contains(group)) return false;", ""),
    ("F25", "L3 tracker", "groups gone with a replaced VLAN entry keep their Joins",
     "      if (!entry || !entry->group().contains(g.first)) differing.push_back(g.first);",
     "      if (!entry) differing.push_back(g.first);"),
    ("F26", "L3 tracker", "a route dropped from a mapping keeps its Join",
     "  if (!found) {\n    underlayRouteDel(route);", "  if (!found) {"),
    ("F27", "L3 tracker", "a replaced tunnel status leaves mappings it no longer lists",
     "    if (!status->vlanToMulticastGroup(key)) l3InjectSm_->vlanToMulticastGroupDel(key);",
     "    if (!status->vlanToMulticastGroup(key) && false) l3InjectSm_->vlanToMulticastGroupDel(key);"),
    # start-up cleanup
    ("F28", "start-up", "a corrupt table at start-up is not reported",
     "    status->doCorruptionDetected(before.corruption);\n", "\n"),
    ("F29", "start-up", "the cleanup shortcut deletes wanted leftovers too",
     "      if (!wanted.empty() && wanted[i]) continue;", ""),
    ("F30", "start-up", "the shortcut goes on after another writer changed the table mid-cleanup",
     "      if (status->epoch() != epoch + 1 || status->corruptNextRead()) {",
     "      if (status->epoch() < epoch || status->corruptNextRead()) {"),
    ("F31", "start-up", "the stale walk stops at a corrupt entry without reporting it",
     "    status->doCorruptionDetected(e.msg());\n  }\n  initializedIs(true);", "  }\n  initializedIs(true);"),
    ("F31a", "first pass", "a VLAN entry's first pass trusts its groups after a handler ran",
     "      settled = !groupSmetIs(group, true);", "      groupSmetIs(group, true);"),
    ("F31b", "first pass", "a mapping's routes after the first are taken as listed without asking",
     "      } else {\n        handleMulticastGroup(route);", "      } else {\n        routeIs(route, true);"),
    # scheduler and walk
    ("F32", "scheduler", "runUntilIdle(n) runs one slice more than asked",
     "  while (ran < maxSlices && runSlice()) ++ran;", "  while (ran <= maxSlices && runSlice()) ++ran;"),
    ("F33", "walk", "a walk requested during a walk is lost",
     "    if (allowWalkRestarts()) restartRequested_ = true;", "    (void)allowWalkRestarts();"),
    ("F34", "walk", "a walk yielding with more work is not queued again",
     "    traceEvent(TraceEvent::walkYielded);\n    taskIs();", "    traceEvent(TraceEvent::walkYielded);"),
    ("F35", "scheduler", "tasks run newest first within a priority",
     "  task->seq_ = nextSeq_++;", "  task->seq_ = ~nextSeq_++;"),
    # dedup
    ("F36", "dedup", "a released handle is not announced for removal",
     "  if (delivering()) {\n    Vorn::Ptr<DedupHashTableLifeTimeNotifiee const> notifiee = notifiee_;\n    notifiee->handleRemove(handle);",
     "  if (false) {\n    Vorn::Ptr<DedupHashTableLifeTimeNotifiee const> notifiee = notifiee_;\n    notifiee->handleRemove(handle);"),
    ("F37", "dedup", "switching the table's notification off is not announced",
     "  if (wasActive && !active && notifiee_) {", "  if (false && wasActive && !active && notifiee_) {"),
    # status table
    ("F38", "status table", "rewriting an equal value counts as a change",
     "    if (v.value_ == m.value) return false;\n", "\n"),
    ("F39", "status table", "a walk resuming after a removal skips the next entry",
     "    if (gone_[pos]) continue;", "    if (gone_[pos]) {\n      if (pos + 1 < sorted_.size()) ++pos;\n      continue;\n    }"),
    # notification delivery
    ("F40", "notification", "a switched-off reactor still receives",
     "  if (!r || !r->hasNotificationActive() || r->isZombie()) return;", "  if (!r || r->isZombie()) return;"),
    ("F41", "notification", "an observer added during a delivery receives the change too",
     "  std::size_t const n = list_.size();\n  for (std::size_t i = 0; i < n; ++i)",
     "  for (std::size_t i = 0; i < list_.size(); ++i)"),
    # collections
    ("F42", "collection", "a route sorting before the first keeps the old first out of order",
     "    rest().insert(rest().begin(), std::move(first_));", "    rest().push_back(std::move(first_));"),
    ("F43", "collection", "taking the first route loses the rest",
     "    first_ = std::move(rest_->front());\n    rest_->erase(rest_->begin());",
     "    first_ = std::move(rest_->back());\n    rest_->pop_back();"),
    # Flit reader
    ("F44", "Flit reader", "an over-long varint is accepted",
     "         if (i == layout::maxVarintBytes - 1 && b > 1) return false;", ""),
    ("F45", "Flit reader", "trailing bytes after a record's arguments are accepted",
     "   if (!rec.atEnd()) {", "   if (false) {"),
    # the program's parser
    ("F46", "parser", "VLAN 4095 accepted by interface names",
     "        if (n.kind == Number::Kind::tooLarge || n.value < 1 || n.value > kMaxVlan) {",
     "        if (n.kind == Number::Kind::tooLarge || n.value < 1) {"),
    ("F47", "parser", "a multicast source accepted",
     "    if (s.isMulticast()) fail(\"source \" + s.stringValue() + \" is a multicast address\");", ""),
    ("F48", "parser", "a source of the other family accepted",
     "    if (s.af() != group.af()) {", "    if (false) {"),
]

TARGETS = ["unit_tests", "toggle_off_tests", "mcinject", "mcinject_tool_tests"]


def sh(cmd, **kw):
    return subprocess.run(cmd, text=True, capture_output=True, **kw)


def locate(snippet):
    files = sh(["git", "ls-files", "--", "src", "tools"]).stdout.split()
    hits = [(f, open(f).read().count(snippet)) for f in files if re.search(r"\.(h|cpp)$", f)]
    return [(f, n) for f, n in hits if n]


def check():
    bad = 0
    for fid, _, what, snippet, _ in FAULTS:
        hits = locate(snippet)
        if len(hits) != 1 or hits[0][1] != 1:
            print(f"{fid}: snippet found {hits or 'nowhere'} ({what})")
            bad += 1
    print(f"{len(FAULTS) - bad} of {len(FAULTS)} faults placed")
    return bad == 0


def merge(paths):
    out = {}
    for p in paths:
        out.update(json.load(open(p)))
    return out


def run_ctest(build, timeout):
    failed_log = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if os.path.exists(failed_log):
        os.remove(failed_log)
    p = subprocess.Popen(["ctest", "--test-dir", build, "-j2", "-Q"], start_new_session=True)
    try:
        p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        return ["(timeout)"]
    if not os.path.exists(failed_log):
        return []
    names = []
    for line in open(failed_log):
        line = line.strip()
        if ":" in line:
            names.append(line.split(":", 1)[1])
    return sorted(names)


def apply_and_test(fault, build, timeout):
    fid, _, _, snippet, replacement = fault
    hits = locate(snippet)
    if len(hits) != 1 or hits[0][1] != 1:
        return {"status": "unplaced", "tests": []}
    path = hits[0][0]
    original = open(path).read()
    try:
        with open(path, "w") as f:
            f.write(original.replace(snippet, replacement))
        b = sh(["nice", "cmake", "--build", build, "-j2", "--target", *TARGETS])
        if b.returncode != 0:
            return {"status": "invalid", "tests": [], "file": path}
        tests = run_ctest(build, timeout)
        return {"status": "killed" if tests else "SURVIVED", "tests": tests, "file": path}
    finally:
        with open(path, "w") as f:
            f.write(original)
        os.utime(path)


def short(tests, limit=4):
    if not tests:
        return "-"
    shown = ", ".join(tests[:limit])
    return shown + (f" (+{len(tests) - limit})" if len(tests) > limit else "")


def table(results, title="killed by"):
    rows = ["| fault | place | what | " + title + " |", "|---|---|---|---|"]
    for fid, module, what, _, _ in FAULTS:
        r = results.get(fid)
        if not r:
            continue
        cell = r["status"] if r["status"] != "killed" else short(r["tests"])
        if r["status"] == "SURVIVED":
            cell = "**survived**"
        rows.append(f"| {fid} | {module} | {what} | {cell} |")
    return "\n".join(rows)


def compare(before, after):
    rows = ["| fault | place | what | killed before by | killed after by |", "|---|---|---|---|---|"]
    for fid, module, what, _, _ in FAULTS:
        b, a = before.get(fid), after.get(fid)
        if not b and not a:
            continue
        cell = lambda r: "n/a" if not r else ("**survived**" if r["status"] == "SURVIVED" else
                                               (short(r["tests"], 3) if r["status"] == "killed" else r["status"]))
        rows.append(f"| {fid} | {module} | {what} | {cell(b)} | {cell(a)} |")
    return "\n".join(rows)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    ap.add_argument("--only", nargs="*")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--json")
    ap.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    ap.add_argument("--timeout", type=int, default=300, help="seconds for one ctest run")
    args = ap.parse_args()
    os.chdir(sh(["git", "rev-parse", "--show-toplevel"]).stdout.strip())
    if args.compare:
        print(compare(merge(args.compare[0].split(",")), merge(args.compare[1].split(","))))
        return 0
    if args.check:
        return 0 if check() else 1
    if sh(["git", "status", "--porcelain", "--", "src", "tools"]).stdout.strip():
        print("src/ or tools/ has uncommitted changes: commit or stash them first", file=sys.stderr)
        return 1
    b = sh(["nice", "cmake", "--build", args.build, "-j2", "--target", *TARGETS])
    if b.returncode != 0 or run_ctest(args.build, args.timeout):
        print("the unfaulted build fails or its tests do: nothing to measure", file=sys.stderr)
        return 1
    results = {}
    for fault in FAULTS:
        if args.only and fault[0] not in args.only:
            continue
        start = time.time()
        results[fault[0]] = apply_and_test(fault, args.build, args.timeout)
        r = results[fault[0]]
        print(f"{fault[0]} {r['status']:9} {time.time() - start:5.0f}s {short(r['tests'])}", file=sys.stderr, flush=True)
        if args.json:
            json.dump(results, open(args.json, "w"), indent=1)
    # Rebuild the unfaulted code so the tree's build matches its sources.
    sh(["nice", "cmake", "--build", args.build, "-j2", "--target", *TARGETS])
    print(table(results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
