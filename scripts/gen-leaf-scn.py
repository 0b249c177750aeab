#!/usr/bin/env python3
"""Writes a VPN leaf scenario at scale, for timing the mcinject program.

The inputs are those of the benchmarks' leaf (bench/Workload.h): N group
mappings over V = min(4094, max(1, N // 16)) VLANs, each with one underlay
route, a whole-VLAN mapping per VLAN, a local status and P peer statuses. The
scenario starts the VPN path, checks the Joins once it is idle, stops it and
checks that the teardown withdrew them.

    scripts/gen-leaf-scn.py 65536 > /tmp/leaf.scn
    /usr/bin/time -f '%U %S' build/tools/mcinject/mcinject /tmp/leaf.scn

--maps-only writes only the `map` lines (N of them, no whole-VLAN ones): the
file the parser's cost per line is measured on.
"""

import argparse
import sys


def ipv4(n):
    return f"{n >> 24 & 255}.{n >> 16 & 255}.{n >> 8 & 255}.{n & 255}"


OVERLAY_BASE = (239 << 24) | (1 << 16)  # 239.1.0.0
ROUTE_BASE = 225 << 24                  # 225.0.0.0
VLAN_ROUTE_BASE = 226 << 24             # 226.0.0.0
VTEP = "10.0.0.1"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("mappings", type=int, nargs="?", default=65536, help="group mappings N (default 65536)")
    ap.add_argument("--peers", type=int, default=64, help="peer statuses P (default 64)")
    ap.add_argument("--maps-only", action="store_true", help="only the N group mapping lines")
    args = ap.parse_args()
    n = args.mappings
    peers = max(args.peers, 1)
    vlans = min(4094, max(1, n // 16))

    out = []
    w = out.append

    def vlan_of(i):
        return 1 + i % vlans

    def group_of(i):
        return ipv4(OVERLAY_BASE + 1 + i // vlans)

    for i in range(n):
        w(f"map vlan {vlan_of(i)} group {group_of(i)} route {VTEP} {ipv4(ROUTE_BASE + i)}\n")
    if args.maps_only:
        sys.stdout.write("".join(out))
        return
    for v in range(1, vlans + 1):
        w(f"map vlan {v} route {VTEP} {ipv4(VLAN_ROUTE_BASE + v)}\n")

    # Membership by class c = (group index + VLAN) % 4: classes 0 and 2 in the
    # local status; 1 in a peer through an Ethernet port (wanted); 3 in a peer
    # through the tunnel interface only (not wanted).
    wanted_vlans = set()
    wanted_groups = 0
    for i in range(n):
        c = (i // vlans + i % vlans) % 4
        where = f"vlan {vlan_of(i)} group {group_of(i)}"
        if c % 2 == 0:
            w(f"local local {where}\n")
        else:
            p = (i * 2654435761 >> 7) % peers
            intf = f"Ethernet{1 + i % 48}" if c == 1 else "Vxlan1"
            w(f"peer peer{p + 1} {where} source * intf {intf}\n")
        if c != 3:
            wanted_groups += 1
            wanted_vlans.add(vlan_of(i))

    # Each wanted group mapping gives a Join, and so does the whole-VLAN
    # mapping of each VLAN with a wanted group.
    w("start vpn\n")
    w(f"expect joins {wanted_groups + len(wanted_vlans)}\n")
    w("stop\n")
    w("expect joins 0\n")
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
