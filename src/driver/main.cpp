#include <cstdio>
#include <new>

#include "driver/run.h"

int main() {
  try {
    doppioni::Console console;
    return doppioni::runDoppioni(console);
  } catch (const std::bad_alloc&) {
    std::fputs("MEMORIA INSUFFICIENTE\n", stdout);
    return -1;
  }
}
