// Vorn::String — the framework's value string (names of statuses, trackers).
//
// A thin value wrapper over std::string: compares and orders like it, streams
// as its text, and gives the C string with `charPtr()`.
//
//   Vorn::String name("local");  if (name == other) ...;  os << name;
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace Vorn {

class String {
 public:
  using IteratorConst = std::string::const_iterator;

  String() = default;
  String(std::string s) : s_(std::move(s)) {}
  String(char const* s) : s_(s) {}
  String(std::string_view s) : s_(s) {}

  char const* charPtr() const noexcept { return s_.c_str(); }
  std::string const& stdString() const noexcept { return s_; }
  bool empty() const noexcept { return s_.empty(); }
  std::size_t size() const noexcept { return s_.size(); }
  IteratorConst begin() const noexcept { return s_.begin(); }
  IteratorConst end() const noexcept { return s_.end(); }

  friend bool operator==(String const&, String const&) = default;
  friend auto operator<=>(String const& a, String const& b) { return a.s_ <=> b.s_; }
  friend std::ostream& operator<<(std::ostream& os, String const& s) { return os << s.s_; }

 private:
  std::string s_;
};

}  // namespace Vorn

template <>
struct std::hash<Vorn::String> {
  std::size_t operator()(Vorn::String const& s) const noexcept {
    return std::hash<std::string>()(s.stdString());
  }
};
