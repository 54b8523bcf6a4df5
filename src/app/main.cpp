#include <cstdlib>

#include "app/dispatch.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const fanecho::RunOutcome outcome = fanecho::runFanecho(argc, argv);
  if (!outcome.allWorkersEnded) {
    // Workers that were not waited for may be writing: end the process
    // holding the console lock, so no line is cut off half way.
    fanecho::platform.console.lockEnter();
    fanecho::platform.console.flushOut();
    std::_Exit(outcome.exitStatus);
  }
  std::exit(outcome.exitStatus);
}
