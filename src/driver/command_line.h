// The command line: no argument, or the folder to clean, or a request for
// the usage text or the version. Nothing is scanned or written unless it
// asks for a run.
#pragma once

#include <string>
#include <vector>

namespace doppioni {

enum class CommandKind { RUN, HELP, VERSION, WRONG };

struct CommandLine {
  CommandKind kind = CommandKind::RUN;
  std::string folder;   // RUN: the folder to work in; empty for the current one
  std::string message;  // WRONG: what is wrong, for standard error
};

// Reads the arguments after the program's name.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// Enters the folder a run is to work in: command unchanged when there is none
// or it could be entered, else WRONG with the message saying why.
CommandLine enterWorkFolder(CommandLine command);

// Prints what a command other than a run asks for and returns the exit
// status: 0 for the usage text and the version, 2 for a wrong command line.
int answerCommand(const CommandLine& command);

}  // namespace doppioni
