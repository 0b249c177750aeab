// ToggleFile — the feature toggles a scenario sets with `toggle NAME on|off`.
//
// The first `toggle` makes a private temporary directory, writes "Pim.json"
// there (a flat JSON object of booleans, seeded with the values of the
// "Pim.json" of the toggle directory configured before, if any) and points
// the process's toggle directory at it; later `toggle`s rewrite the file. The
// directory is removed when the ToggleFile goes. The library reads toggles
// once per process: callers allow changes only before the first path starts.
//
// Not thread-safe; one per process.
//
//   ToggleFile toggles;
//   if (auto problem = toggles.toggleIs("PimL3TunnelInject", false)) report(*problem);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Toggle/Toggle.h"

namespace Mcinject {

// The toggles of "Pim.json" that the library reads (grep getToggleState in
// src/Pim when adding one): `toggle` takes only these names.
struct KnownToggle {
  char const* name;
  char const* text;
};
std::vector<KnownToggle> const& knownToggles();
std::vector<std::string> knownToggleNames();

class ToggleFile {
 public:
  static constexpr char const* kFileName = "Pim.json";

  ToggleFile() = default;
  ~ToggleFile();
  ToggleFile(ToggleFile const&) = delete;
  ToggleFile& operator=(ToggleFile const&) = delete;

  // Sets toggle `name` and rewrites the file; on failure nothing changes and
  // the reason is returned.
  std::optional<std::string> toggleIs(std::string const& name, bool on);
  ToggleValues const& values() const noexcept { return values_; }
  std::string const& dir() const noexcept { return dir_; }

 private:
  std::optional<std::string> write(ToggleValues const& values) const;

  std::string dir_;  // empty until the first toggle
  ToggleValues values_;
};

}  // namespace Mcinject
