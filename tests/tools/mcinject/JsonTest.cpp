// The JSON documents read back with the JSON library: each parses, carries
// the schema version, and holds at the documented place what the state says
// (names, types, null for a group of no family, the zero source as an
// address). One row per document and state; docs/json.md is the schema.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "Parser.h"
#include "Runner.h"

namespace Mcinject {
namespace {

struct Row {
  std::vector<char const*> lines;  // the last one prints the document
  char const* pointer;
  char const* expected;            // JSON text
};

TEST(JsonTest, DocumentsReadBackAsDocumented) {
  std::vector<Row> const rows = {
      {{"map vlan 10 group 239.1.1.1 route 10.0.0.1 225.0.0.1", "local local vlan 10 group 239.1.1.1",
        "gmp * 225.0.0.1 Vlan10", "start l3", "show joins json"},
       "/joins/0",
       R"j({"source": "0.0.0.0", "group": "225.0.0.1", "intf": "Vlan10", "value": 1, "type": "(*,G)"})j"},
      {{"map vlan 10 group 239.1.1.1 route 10.0.0.1 225.0.0.1", "local local vlan 10 group 239.1.1.1",
        "gmp * 225.0.0.1 Vlan10", "start l3", "show joins detail json"},
       "", R"j({"schemaVersion": 1, "path": {"kind": "l3", "localStatus": "local"}, "filter": {}, "tableEntries": 1,
        "joins": [{"source": "0.0.0.0", "group": "225.0.0.1", "intf": "Vlan10", "value": 1, "type": "(*,G)",
          "held": true, "adopted": true, "candidates": [], "reasons": [{
            "mapping": {"vlan": 10, "group": "239.1.1.1", "kind": "specific"},
            "route": {"source": "10.0.0.1", "group": "225.0.0.1", "tunnel": "vxlan"}, "wanted": true, "missing": null,
            "evidence": [{"side": "local", "status": "local", "vlan": 10, "viaSbd": false, "group": "239.1.1.1",
                          "source": null, "intf": null}]}]}]})j"},
      {{"map vlan 4001 group 239.1.1.1 route 10.0.0.1 225.4.4.1", "sbd vlan 11 4001", "start vpn",
        "peer leaf2 vlan 11 group 239.1.1.1 source * intf Ethernet3", "show joins vlan 11 detail json"},
       "/joins/0/reasons/0/evidence",
       R"j([{"side": "peer", "status": "leaf2", "vlan": 11, "viaSbd": true, "group": "239.1.1.1",
            "source": "0.0.0.0", "intf": "Ethernet3"}])j"},
      {{"start vpn", "gmp 10.1.1.1 225.0.0.1 Vlan10", "show joins vlan 10 group 225.0.0.1 intf Vlan10 json"}, "/filter",
       R"j({"vlan": 10, "group": "225.0.0.1", "intf": "Vlan10"})j"},
      {{"map vlan 12 route 10.0.0.1 225.0.0.12", "start vpn", "gmp * 225.0.0.12 Vlan12", "show joins detail json"},
       "/joins/0",
       R"j({"source": "0.0.0.0", "group": "225.0.0.12", "intf": "Vlan12", "value": 1, "type": "(*,G)", "held": false,
           "adopted": false, "reasons": [], "candidates": [{"mapping": {"vlan": 12, "group": null, "kind": "wholeVlan"},
           "route": {"source": "10.0.0.1", "group": "225.0.0.12", "tunnel": "vxlan"}, "wanted": false,
           "missing": "member", "evidence": []}]})j"},
      {{"map vlan 10 group 0.0.0.0 route 10.0.0.1 225.0.0.1", "start vpn", "hold", "local A vlan 10 group 239.1.1.1",
        "show changeset json"},
       "", R"j({"schemaVersion": 1, "waiting": [{"vlan": 10, "group": "239.1.1.1", "kind": "specific"}], "changed": 2,
              "scheduler": {"held": true, "queuedTasks": 1, "itemBudget": 1024, "slicesRun": 1}})j"},
      {{"map vlan 10 route 10.0.0.1 225.0.0.1", "gmp * 225.0.0.9 Vlan10", "start l3", "local local vlan 10",
        "no local local vlan 10", "show counters json"},
       "/paths/0/counters",
       R"j({"joinsWritten": 1, "joinsWithdrawn": 1, "joinsRewritten": 0, "staleRemoved": 1, "walks": 0, "slices": 0,
           "itemsReviewed": 0, "corruptionsReported": 0})j"},
      {{"show counters json"}, "", R"j({"schemaVersion": 1, "paths": []})j"},
      {{"start l3 A\xff", "show counters json"}, "/paths/0/localStatus", R"j("A\ufffd")j"},  // any word is a name
      {{"show joins detail json"}, "/path", "null"},
  };
  for (Row const& row : rows) {
    Process process;
    World world;
    std::ostringstream out;
    Runner runner(world, process, out);
    std::string script;
    for (char const* line : row.lines) {
      script += std::string(line) + "\n";
      out.str("");
      ParseResult const r = parseLine(line);
      ASSERT_FALSE(r.isError()) << line << ": " << r.error();
      ASSERT_EQ(runner.run(r.command()).kind, Outcome::Kind::done) << line;
    }
    SCOPED_TRACE(script + out.str());
    nlohmann::json const doc = nlohmann::json::parse(out.str());  // throws on anything but one JSON document
    EXPECT_EQ(doc.at("schemaVersion"), 1);
    EXPECT_EQ(doc.at(nlohmann::json::json_pointer(row.pointer)), nlohmann::json::parse(row.expected));
  }
}

}  // namespace
}  // namespace Mcinject
