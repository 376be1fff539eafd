// simdev: simulated instruments on pseudo-terminals, so a person can point a
// host program at them without hardware.
//
//   simdev [line|block|length]...
//
// Starts one echo device per argument (one line device without arguments),
// prints "<kind> <device name>" for each, and runs until standard input
// ends or a line is entered. line: text ending in CR; block: STX text ETX
// with an XOR checksum; length: a one-byte length, the text, a sum checksum.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device_model.h"
#include "sim/framer.h"
#include "sim/pty_transport.h"
#include "sim/runner.h"
#include "sim/script.h"

namespace {

std::unique_ptr<sim::Framer> framer_for(std::string_view kind) {
  if (kind == "line") return std::make_unique<sim::LineFramer>("\r");
  if (kind == "block") return std::make_unique<sim::BlockFramer>(0x02, 0x03, &sim::xor8);
  if (kind == "length") return std::make_unique<sim::LengthPrefixFramer>(1, &sim::sum8);
  return nullptr;
}

// One device and everything it runs on; the runner thread stops first.
struct Device {
  std::string kind;
  sim::PtyTransport line;
  std::unique_ptr<sim::Framer> framing;
  sim::Script script;
  std::unique_ptr<sim::EchoDevice> model;
  std::unique_ptr<sim::Runner> runner;
  std::unique_ptr<sim::BackgroundRunner> thread;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> kinds(argv + 1, argv + argc);
  if (kinds.empty()) kinds.emplace_back("line");

  std::vector<std::unique_ptr<Device>> devices;
  for (const std::string& kind : kinds) {
    auto d = std::make_unique<Device>();
    d->kind = kind;
    d->framing = framer_for(kind);
    if (!d->framing) {
      std::fprintf(stderr, "simdev: unknown kind \"%s\" (line, block or length)\n", kind.c_str());
      return 2;
    }
    if (!d->line.ok()) {
      std::fprintf(stderr, "simdev: no pseudo-terminal available\n");
      return 1;
    }
    d->model = std::make_unique<sim::EchoDevice>(*d->framing);
    d->runner = std::make_unique<sim::Runner>(d->line, *d->framing, d->script, *d->model);
    d->thread = std::make_unique<sim::BackgroundRunner>(*d->runner);
    std::printf("%s %s\n", kind.c_str(), d->line.device().c_str());
    devices.push_back(std::move(d));
  }
  std::fflush(stdout);

  std::string ignored;
  std::getline(std::cin, ignored);
  return 0;
}
