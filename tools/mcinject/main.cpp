// mcinject — runs scenarios of the multicast inject library: builds its
// inputs, runs the L3 or the VPN inject path on them and shows the Joins the
// path writes. See `mcinject --help` and the `help` command.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "Flit/Flit.h"
#include "Flit/FlitReader.h"
#include "LineEditor.h"
#include "OutputPath.h"
#include "Parser.h"
#include "Session.h"
#include "SharedTable.h"
#include "Text.h"
#include "Vorn/Trace.h"

#ifndef MCINJECT_VERSION
#define MCINJECT_VERSION "0.0.0"
#endif

namespace {

using namespace Mcinject;

constexpr char const* kPrompt = "mcinject> ";

// The scenario files in order, each one scenario.
int runFiles(Process& process, std::vector<std::string> const& files, bool keepGoing) {
  Session session(process, std::cout, std::cerr);
  session.keepGoingIs(keepGoing);
  int status = kExitOk;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string const& file = files[i];
    int fileStatus;
    bool const interactive = file == "-" && ::isatty(STDIN_FILENO);
    if (interactive) {
      std::cout << "mcinject " MCINJECT_VERSION ": type 'help' for the commands, '?' for what may come next, "
                   "Ctrl-D to leave"
                << std::endl;
      LineEditor editor(LineEditor::defaultHistoryFile());
      fileStatus = session.runInteractive([&editor] { return editor.readLine(kPrompt); });
      std::cout << std::endl;
    } else {
      fileStatus = session.runFile(file);
    }
    status = std::max(status, fileStatus);
    // A bad line in a scenario ends the run there (unless told to keep
    // going); an internal error always does.
    if (fileStatus == kExitInternal || (fileStatus == kExitBadInput && !keepGoing && !interactive)) {
      if (i + 1 < files.size()) {
        std::string rest;
        for (std::size_t j = i + 1; j < files.size(); ++j) rest += " " + escaped(files[j]);
        std::cerr << "mcinject: stopped after " << escaped(file) << "; not run:" << rest << std::endl;
      }
      break;
    }
  }
  return status;
}

// Refuses output paths that would overwrite an input or a file of another
// kind, before anything is opened for writing.
bool outputPathsOk(std::string const& traceFile, std::string const& flit, std::vector<std::string> const& inputs) {
  if (!traceFile.empty() && traceFile == flit) {
    std::cerr << "mcinject: --trace-file and --flit name the same file " << quoted(flit) << std::endl;
    return false;
  }
  if (!flit.empty()) {
    if (auto problem = outputPathProblem(flit, OutputKind::flit, inputs)) {
      std::cerr << "mcinject: --flit: " << *problem << std::endl;
      return false;
    }
  }
  if (!traceFile.empty()) {
    if (auto problem = outputPathProblem(traceFile, OutputKind::textTrace, inputs)) {
      std::cerr << "mcinject: --trace-file: " << *problem << std::endl;
      return false;
    }
  }
  return true;
}

int run(int argc, char** argv) {
  CLI::App app{
      "Runs scenarios of the multicast inject library: builds its inputs (membership join statuses,\n"
      "VLAN-to-multicast-group mappings, SBD VLANs, the underlay GMP status table), runs the L3 or\n"
      "the VPN inject path on them and shows the Joins the path writes. Each FILE is one scenario;\n"
      "'-' or no FILE reads standard input (with a prompt when it is a terminal).",
      "mcinject"};
  app.set_version_flag("-V,--version", "mcinject " MCINJECT_VERSION);
  app.footer(
      "Scenario commands: type 'help' or '?' at the prompt, or run: mcinject -c help\n"
      "Exit status: 0 all went well, 1 an expectation failed, 2 a line could not be parsed or\n"
      "applied (or a file read), 3 an internal error.");

  std::vector<std::string> files;
  std::string trace;
  std::string traceFile;
  std::string flit;
  std::uint32_t flitBytes = 1u << 20;
  app.add_option("--trace", trace,
                 "text trace settings, as the 'trace' command: HANDLE=LEVELS[,HANDLE=LEVELS...] or off")
      ->type_name("SETTINGS");
  app.add_option("--trace-file", traceFile, "write the text trace to PATH (appending) instead of standard error")
      ->type_name("PATH");
  app.add_option("--flit", flit, "write the binary ring-buffer trace to PATH (print it with: mcinject flit PATH)")
      ->type_name("PATH");
  app.add_option("--flit-bytes", flitBytes, "size of the --flit ring buffer in bytes (default 1 MiB)")
      ->type_name("BYTES")
      ->check(CLI::Range(Flit::File::minRingBytes, Flit::File::maxRingBytes));
  bool keepGoing = false;
  app.add_flag("-k,--keep-going", keepGoing,
               "report a line that cannot be parsed or applied and go on (the exit status is still 2)");
  std::vector<std::string> commands;
  app.add_option("-c,--command", commands,
                 "run CMD (repeatable: the commands run in order, as one scenario, keywords\n"
                 "abbreviated as at the prompt); no FILE is read")
      ->type_name("CMD")
      ->allow_extra_args(false);
  app.add_option("FILE", files, "scenario files, run in order")->type_name("");

  std::string flitToPrint;
  CLI::App* flitCommand = app.add_subcommand("flit", "print a Flit trace file (written with --flit) as text");
  flitCommand->add_option("FILE", flitToPrint, "the trace file")->required();
  SharedTableCli sharedTable(app);  // --table and the shared segment subcommands

  try {
    app.parse(argc, argv);
  } catch (CLI::ParseError const& e) {
    int const code = app.exit(e);
    return code == 0 ? kExitOk : kExitBadInput;
  }

  if (auto const status = sharedTable.run(std::cout, std::cerr)) return *status;
  if (flitCommand->parsed()) {
    std::string error;
    if (!Flit::printFile(flitToPrint, std::cout, error)) {
      std::cout.flush();
      std::cerr << "mcinject flit: " << error << std::endl;
      return kExitBadInput;
    }
    return kExitOk;
  }

  if (!commands.empty() && !files.empty()) {
    std::cerr << "mcinject: -c runs its commands as the scenario; no FILE goes with it" << std::endl;
    return kExitBadInput;
  }
  if (files.empty() && commands.empty()) files.push_back("-");
  if (!trace.empty()) {
    if (auto problem = checkTraceSettings(trace)) {
      std::cerr << "mcinject: --trace: " << *problem << std::endl;
      return kExitBadInput;
    }
    std::string error;
    if (!Vorn::traceSettingsIs(trace, &error)) {
      std::cerr << "mcinject: --trace: " << error << std::endl;
      return kExitBadInput;
    }
  }
  Process process;
  process.inputs = files;
  if (!outputPathsOk(traceFile, flit, process.inputs)) return kExitBadInput;

  if (!traceFile.empty()) {
    if (auto problem = traceFileIs(traceFile, process.inputs)) {
      std::cerr << "mcinject: --trace-file: " << *problem << std::endl;
      return kExitBadInput;
    }
  }
  if (!flit.empty()) {
    std::string error;
    auto file = Flit::File::create(flit, flitBytes, &error);
    if (!file) {
      std::cerr << "mcinject: --flit: " << error << std::endl;
      return kExitBadInput;
    }
    Flit::defaultFileIs(std::move(file));
  }
  if (int const prepared = sharedTable.prepare(std::cerr)) return prepared;

  int status;
  if (!commands.empty()) {
    Session session(process, std::cout, std::cerr);
    session.keepGoingIs(keepGoing);
    status = session.runCommands(commands);
  } else {
    status = runFiles(process, files, keepGoing);
  }
  Flit::defaultFileIs(nullptr);  // flushes the ring buffer to the file
  Vorn::traceFileIs("");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (std::exception const& e) {
    std::cerr << "mcinject: internal error: " << e.what() << std::endl;
    return kExitInternal;
  }
}
