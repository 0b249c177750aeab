// The parser's own address reader against the library's (inet_pton): the
// same verdict and the same address for tricky literals, for random words
// over the characters addresses are made of, and for printed addresses with
// one character changed.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "AddressText.h"

namespace Mcinject {
namespace {

void expectSame(std::string_view text) {
  EXPECT_EQ(addressOf(text), Wirl::IpGenAddr::fromString(text)) << '"' << text << '"';
}

TEST(AddressTextTest, AgreesWithTheLibrarysReader) {
  char const* const tricky[] = {
      "0.0.0.0",
      "255.255.255.255",
      "256.0.0.1",
      "01.2.3.4",
      "1.02.3.4",
      "1.2.3.0",
      "1.2.3.00",
      "1.2.3",
      "1.2.3.4.",
      ".1.2.3.4",
      "1..2.3",
      "1.2.3.4.5",
      "4294967295",
      "1.2.3.-4",
      "1.2.3.4 ",
      "+1.2.3.4",
      "::",
      ":",
      ":::",
      "::1",
      "1::",
      "1:",
      ":1",
      "1::2::3",
      "1:::2",
      "ff3e::1",
      "FF3E:0:0:0:0:0:0:1",
      "1:2:3:4:5:6:7:8",
      "1:2:3:4:5:6:7:8:",
      "1:2:3:4:5:6:7:8::",
      "::1:2:3:4:5:6:7:8",
      "1:2:3:4:5:6:7::",
      "::2:3:4:5:6:7:8",
      "1:2:3:4:5:6:7",
      "1:2:3:4:5:6:7:8:9",
      "12345::1",
      "0000:0000:0000:0000:0000:0000:0000:0000",
      "00000::",
      "g::1",
      "::ffff:10.1.2.3",
      "::10.1.2.3",
      "1:2:3:4:5:6:1.2.3.4",
      "1:2:3:4:5:6:7:1.2.3.4",
      "1:2:3:4:5::1.2.3.4",
      "::1.2.3",
      "::1.2.3.4.5",
      "::01.2.3.4",
      "::1.2.3.4:5",
      "::a.2.3.4",
      "::1.2.3.4::",
      "1.2.3.4::",
      "::256.1.1.1",
      "::ffff:1.2.3.04",
      "ff3e::1%eth0",
      "fe80::1/64",
      "0:0:0:0:0:0:0.0.0.0",
      "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255",
      "1::2:3:4:5:6:7:8",
      ":1::2",
      "1:2:3:4:5:6:7:8:1.2.3.4",
  };
  for (char const* text : tricky) expectSame(text);
  expectSame(std::string_view("1.2.3.4\0", 8));
  expectSame(std::string_view("::1\0", 4));
  expectSame(std::string(46, '1'));

  // Random words over the characters of addresses, most of them short enough
  // to stand a chance; a fixed seed keeps failures reproducible.
  std::mt19937 rng(20261206);
  std::string const alphabet = "0123456789abcdefABCDEFg:::...";
  for (int n = 0; n < 200000; ++n) {
    std::size_t const length = 1 + rng() % (n % 2 ? 16 : 46);
    std::string word;
    for (std::size_t i = 0; i < length; ++i) word += alphabet[rng() % alphabet.size()];
    expectSame(word);
  }
  // Printed addresses (with zero runs, so with "::") and one character of
  // each changed, added or dropped: the near misses.
  for (int n = 0; n < 100000; ++n) {
    Wirl::IpGenAddr::Bytes bytes{};
    for (auto& b : bytes) b = rng() % 3 ? 0 : static_cast<std::uint8_t>(rng());
    auto const af = n % 3 ? Wirl::AddressFamily::ipv6 : Wirl::AddressFamily::ipv4;
    std::string word = Wirl::IpGenAddr(af, bytes).stringValue();
    expectSame(word);
    std::size_t const at = rng() % (word.size() + 1);
    char const c = alphabet[rng() % alphabet.size()];
    switch (rng() % 3) {
      case 0:
        word.insert(word.begin() + at, c);
        break;
      case 1:
        if (at < word.size()) word[at] = c;
        break;
      default:
        if (at < word.size()) word.erase(at, 1);
        break;
    }
    expectSame(word);
  }
}

}  // namespace
}  // namespace Mcinject
