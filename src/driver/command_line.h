// The command line: no argument, or the folder to clean, with the options
// of a run in any order around it, or a request for the usage text or the
// version. Nothing is scanned or written unless it asks for a run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inventory/options.h"

namespace doppioni {

enum class CommandKind { RUN, HELP, VERSION, WRONG };

struct CommandLine {
  CommandKind kind = CommandKind::RUN;
  std::string folder;   // RUN: the folder to work in; empty for the current one
  std::string message;  // WRONG: what is wrong, for standard error
  // RUN: the folders of --tieni and --sposta-in as given, read, as the
  // folder is, from where the command was started.
  std::vector<std::string> keptFolders;
  std::optional<std::string> moveTo;
  // RUN: the excluded names; the kept folders and the destination once
  // enterWorkFolder has found them.
  Options options;
};

// Reads the arguments after the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// Enters the folder a run is to work in, and finds the folders its options
// name: command unchanged but for those when it could, else WRONG with the
// message saying why (a folder that is not one, a kept folder outside the
// tree, a destination inside the tree or above it).
CommandLine enterWorkFolder(CommandLine command);

// Prints what a command other than a run asks for and returns the exit
// status: 0 for the usage text and the version, 2 for a wrong command line.
int answerCommand(const CommandLine& command);

}  // namespace doppioni
