#include <cstdio>
#include <new>

#include "driver/run.h"
#include "platform/platform.h"

int main() {
  doppioni::prepareStandardStreams();
  try {
    doppioni::Console console;
    return doppioni::runDoppioni(console);
  } catch (const std::bad_alloc&) {
    std::fputs("MEMORIA INSUFFICIENTE\n", stdout);
    return -1;
  }
}
