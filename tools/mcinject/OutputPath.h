// OutputPath — the files the program writes (the text trace, the Flit trace)
// checked before anything is opened for writing.
//
// A path is refused when it is a directory, when it is one of the files the
// run reads (compared as files, so another name of the same file counts;
// "-" stands for standard input when that is a file), or when it is an
// existing non-empty file of another kind than the one written: a Flit
// trace must start with the Flit magic, a text trace with a trace line. An
// empty file, a new file and a device (/dev/null) are fine.
//
// Not thread-safe (the text trace is the process's).
//
//   if (auto problem = outputPathProblem(path, OutputKind::flit, inputs)) refuse(*problem);
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Mcinject {

enum class OutputKind { textTrace, flit };

std::optional<std::string> outputPathProblem(std::string const& path, OutputKind kind,
                                             std::vector<std::string> const& inputs);

// Sends the text trace to `path` (appending; "" for standard error) once the
// path passes the checks above; else, or when it cannot be opened, why not.
std::optional<std::string> traceFileIs(std::string const& path, std::vector<std::string> const& inputs);

}  // namespace Mcinject
