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
#include "Parser.h"
#include "Session.h"
#include "SharedTable.h"
#include "Vorn/Trace.h"

#ifndef MCINJECT_VERSION
#define MCINJECT_VERSION "0.0.0"
#endif

namespace {

using namespace Mcinject;

constexpr char const* kPrompt = "mcinject> ";

int runFiles(std::vector<std::string> const& files, bool keepGoing) {
  Process process;
  Session session(process, std::cout, std::cerr);
  session.keepGoingIs(keepGoing);
  int status = kExitOk;
  for (std::string const& file : files) {
    int fileStatus;
    bool const interactive = file == "-" && ::isatty(STDIN_FILENO);
    if (interactive) {
      std::cout << "mcinject " MCINJECT_VERSION ": type 'help' for the commands, Ctrl-D to leave" << std::endl;
      LineEditor editor(LineEditor::defaultHistoryFile());
      fileStatus = session.runInteractive([&editor] { return editor.readLine(kPrompt); });
      std::cout << std::endl;
    } else {
      fileStatus = session.runFile(file);
    }
    status = std::max(status, fileStatus);
    // A bad line in a scenario ends the run there (unless told to keep
    // going); an internal error always does.
    if (fileStatus == kExitInternal || (fileStatus == kExitBadInput && !keepGoing && !interactive)) break;
  }
  return status;
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
      "Scenario commands: type 'help' at the prompt, or run: echo help | mcinject\n"
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

  if (!traceFile.empty()) {
    std::string error;
    if (!Vorn::traceFileIs(traceFile, &error)) {
      std::cerr << "mcinject: --trace-file: " << error << std::endl;
      return kExitBadInput;
    }
  }
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
  if (!flit.empty()) {
    std::string error;
    auto file = Flit::File::create(flit, flitBytes, &error);
    if (!file) {
      std::cerr << "mcinject: --flit: " << error << std::endl;
      return kExitBadInput;
    }
    Flit::defaultFileIs(std::move(file));
  }
  if (int const status = sharedTable.prepare(std::cerr)) return status;
  if (files.empty()) files.push_back("-");

  int const status = runFiles(files, keepGoing);
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
