#include <cstdio>
#include <new>

#include "driver/command_line.h"
#include "driver/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  doppioni::prepareStandardStreams();
  try {
    doppioni::CommandLine command = doppioni::enterWorkFolder(
        doppioni::parseCommandLine(doppioni::commandArguments(argc, argv)));
    if (command.kind != doppioni::CommandKind::RUN) return doppioni::answerCommand(command);
    doppioni::Console console;
    return doppioni::runDoppioni(console);
  } catch (const std::bad_alloc&) {
    std::fputs("MEMORIA INSUFFICIENTE\n", stdout);
    return -1;
  }
}
