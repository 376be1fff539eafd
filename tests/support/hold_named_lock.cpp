// A second process for the named-lock tests: takes the lock named by its
// argument, says "held", then obeys its input line by line. "release" lets
// the lock go and ends; "exit" ends at once without letting it go, so that
// the system must drop it as it does for a holder that dies. The end of
// input releases and ends, so a test that fails leaves no process behind.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/host_platform.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hold_named_lock NAME\n");
    return 2;
  }
  plat::host::NamedLock lock;
  constexpr int kWaitMs = 10000;
  if (!lock.acquire(argv[1], kWaitMs)) {
    std::printf("not held\n");
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  std::string command;
  while (std::getline(std::cin, command)) {
    if (!command.empty() && command.back() == '\r') command.pop_back();
    if (command == "release") {
      lock.release();
      return 0;
    }
    if (command == "exit") std::_Exit(0);
  }
  return 0;
}
