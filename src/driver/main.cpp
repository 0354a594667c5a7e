#include <cstdio>
#include <new>
#include <stdexcept>
#include <system_error>

#include "driver/command_line.h"
#include "driver/run.h"
#include "platform/platform.h"

namespace {

int outOfMemory() {
  std::fputs("MEMORIA INSUFFICIENTE\n", stdout);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  doppioni::prepareStandardStreams();
  try {
    doppioni::CommandLine command = doppioni::enterWorkFolder(
        doppioni::parseCommandLine(doppioni::commandArguments(argc, argv)));
    if (command.kind != doppioni::CommandKind::RUN) return doppioni::answerCommand(command);
    doppioni::Console console;
    return doppioni::runDoppioni(console, command.options);
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  } catch (const std::length_error&) {  // a text or table past what memory can address
    return outOfMemory();
  } catch (const std::system_error&) {  // no thread to be had
    return outOfMemory();
  }
}
