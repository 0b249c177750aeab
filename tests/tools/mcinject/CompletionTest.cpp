// The prompt's grammar from the command table: abbreviations (and where
// they are refused), what Tab adds and what `?` lists. The terminal side is
// tests/scenarios/prompt.sh.
#include <gtest/gtest.h>

#include "Completion.h"
#include "Parser.h"

namespace Mcinject {
namespace {

TEST(CompletionTest, PrefixesAbbreviateAtThePromptOnlyAndAmbiguityIsNamed) {
  struct Case {
    char const* line;
    char const* error;  // "" when the line parses at the prompt
  };
  Case const cases[] = {
      {"sh jo", ""},
      {"no ma vl 10 gr 239.1.1.1 ro 10.0.0.1 225.1.1.1 tu gre", ""},
      {"expe join * 225.1.1.1 Vlan10", ""},  // `join` in full beats the prefix of `joins`
      {"expe jo 1", "expect: ambiguous 'jo' (join or joins)"},
      {"exp joins 1", "ambiguous 'exp' (expect or explain)"},
      {"s", "ambiguous 's' (sbd, show, start, step or stop)"},
      {"tr o", ""},  // off, not SETTINGS "o"
      {"local A vlan 10 group 239.1.1.1 source * Ethernet1", "local: unexpected 'Ethernet1'"},
      {"stpo", "unknown command 'stpo' (did you mean 'stop'?)"},
  };
  for (Case const& c : cases) {
    ParseResult const r = parseLine(c.line, Dialect::prompt);
    EXPECT_EQ(r.isError() ? r.error() : "", c.error) << c.line;
  }
  // Scenario files take keywords in full.
  EXPECT_EQ(parseLine("sh jo").error(), "unknown command 'sh'");
  EXPECT_EQ(parseLine("show jo").error(), "show: expected joins, changeset, counters or inputs, found 'jo'");
}

TEST(CompletionTest, TabAddsTheUniqueRestOrListsTheChoices) {
  struct Case {
    char const* before;
    char const* insert;
    std::vector<std::string> choices;
  };
  Case const cases[] = {
      {"sh", "ow ", {}},
      {"show j", "oins ", {}},
      {"sh jo", "ins ", {}},
      {"st", "", {"start", "stop", "step"}},
      {"exp", "", {"explain", "expect"}},
      {"expe", "ct ", {}},
      {"expect jo", "in", {"join", "joins"}},
      {"toggle P", "imL3TunnelInject ", {}},
      {"map vlan 10 ", "", {"group", "route"}},
      {"map vlan ", "", {}},  // a value: nothing to complete
      {"start l3 # a comment ", "", {}},
  };
  for (Case const& c : cases) {
    Completion const got = completeLine(c.before);
    EXPECT_EQ(got.insert, c.insert) << c.before;
    EXPECT_EQ(got.choices, c.choices) << c.before;
  }
}

TEST(CompletionTest, QuestionMarkListsWhatMayComeNext) {
  EXPECT_EQ(describeNext("start "),
            "  l3   start the L3 inject path\n"
            "  vpn  start the VPN inject path\n");
  EXPECT_EQ(describeNext("step "),
            "  N     a number\n"
            "  <cr>  run the line\n");
  // Interfaces come after `intf` only, then as many as wanted.
  EXPECT_EQ(describeNext("local A vlan 10 group 239.1.1.1 source * "),
            "  intf  then the interfaces\n"
            "  <cr>  run the line\n");
  EXPECT_EQ(describeNext("local A vlan 10 group 239.1.1.1 source * intf Ethernet1 "),
            "  I     an interface name\n"
            "  <cr>  run the line\n");
  EXPECT_EQ(describeNext("sh j"), "  joins  the GMP status table\n");
  EXPECT_EQ(describeNext("stop now "), "  % nothing fits 'now'\n");
}

}  // namespace
}  // namespace Mcinject
