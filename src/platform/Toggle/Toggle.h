// Feature toggles read from small JSON files.
//
// A toggle file is a flat JSON object of booleans, e.g.
//   { "PimL3TunnelInject": false, "Other": true }
// stored in the toggle directory: the one set with toggleDirIs(), else the one
// named by the environment variable MCINJECT_TOGGLE_DIR. getToggleState() falls
// back to the caller's default whenever it cannot give a definite answer: no
// directory, no file, the name absent, or a file that is not exactly of that
// shape (a single non-boolean value makes the whole file unparsable).
//
// The file is read on every call: callers that consult a toggle on a hot path
// read it once and keep the answer. Not thread-safe with respect to
// toggleDirIs(); set the directory before starting work.
//
//   toggleDirIs("/etc/mcinject/toggles");
//   bool l3 = getToggleState("PimL3TunnelInject", "Pim.json", true);
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The value of toggle `name` in toggle file `file` (a name relative to the
// toggle directory), or `defaultValue` when that cannot be determined.
bool getToggleState(char const* name, char const* file, bool defaultValue);

// Overrides the toggle directory for this process; "" goes back to
// MCINJECT_TOGGLE_DIR.
void toggleDirIs(std::string dir);
// The directory toggle files are read from; "" when none is configured.
std::string toggleDir();

using ToggleValues = std::map<std::string, bool, std::less<>>;

// Parses the text of a toggle file. Accepts exactly a JSON object whose values
// are true/false: whitespace, and names as JSON strings with the escapes
// \" \\ \/ \b \f \n \r \t (no \u). A repeated name keeps its last value.
// Anything else gives nullopt.
std::optional<ToggleValues> parseToggleFile(std::string_view text);
