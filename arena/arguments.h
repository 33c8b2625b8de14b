// The command line of the arena's programs: one way of answering --help and refusing what
// cannot be used, for arena, guio and the benchmarks.
#pragma once

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>

namespace arena {

// Parses the command line. Nothing to return means go on; otherwise the program's exit status:
// 0 after --help (usage on standard output), 2 after a message on standard error that names
// the argument and what is wrong with it.
inline std::optional<int> LlegeixArguments(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << app.get_name() << ": " << e.what() << "\nRun with --help for more information.\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace arena
