// simdev: simulated instruments on pseudo-terminals, so a person can point a
// host program at them without hardware, and so the Windows tests, run under
// Wine, have COM ports to open.
//
//   simdev [options] [loopback|line|block|length|board...|temp|wavemon|motion]...
//
// Starts one device per argument (one line device without arguments) and
// prints one line per device (see below). Runs until standard input ends or
// a line is entered, or until SIGTERM or SIGINT.
//   loopback  every byte goes straight back, whatever its value
//   line      an echo device: text ending in CR
//   block     an echo device: STX text ETX with an XOR checksum
//   length    an echo device: a one-byte length, the text, a sum checksum
//   board, board-uz1, board-uz2, board-iris, board-lumen
//             a simulated instrument board
//   temp      a temperature controller at address 0011
//   wavemon   a simulated wave monitor (laser off, not calibrated)
//   motion    a serial motion controller: six axes, not homed, firmware 2.3,
//             homing at once
//
// Options:
//   --wine-prefix DIR  also links DIR/dosdevices/comN to each device, N
//                      counting up from --first-com, so that a program under
//                      Wine with WINEPREFIX=DIR opens the device as COMN. Wine
//                      looks the link up at each open, so it only has to exist
//                      before the port is opened. Links are removed on exit.
//   --first-com N      the first port number (default 200: Wine's device
//                      manager claims com1, com2 ... for the machine's own
//                      serial devices at every start, and would replace them)
//   --ready FILE       once every device and link is up, writes the device
//                      lines to FILE (whole, by renaming), and removes FILE on
//                      exit; a script waits for it to know the ports are there
//   --no-stdin         ignores standard input: runs until a signal (for a
//                      helper started in the background)
//   --lifetime S       stops after S seconds whatever happens, so a forgotten
//                      helper does not run for ever
//
// A device line is "<kind> <terminal>", followed by " COM<N> <link>" when the
// device is linked into a Wine prefix.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "sim/device_model.h"
#include "sim/framer.h"
#include "sim/instrument_board.h"
#include "sim/motion_controller.h"
#include "sim/pty_transport.h"
#include "sim/runner.h"
#include "sim/script.h"
#include "sim/temperature_controller.h"
#include "sim/wave_monitor.h"

namespace {

namespace fs = std::filesystem;

volatile std::sig_atomic_t g_signalled = 0;

extern "C" void on_signal(int) { g_signalled = 1; }

struct Options {
  std::vector<std::string> kinds;
  std::string wine_prefix;
  int first_com = 200;
  std::string ready;
  bool use_stdin = true;
  long lifetime_s = 0;  // 0: no limit
};

// One device and everything it runs on; the runner thread stops first.
struct Device {
  std::string kind;
  sim::PtyTransport line;
  std::unique_ptr<sim::Framer> framing;
  sim::Framer* framer = nullptr;  // framing, or the one a board model keeps
  sim::Script script;
  std::unique_ptr<sim::DeviceModel> model;
  std::unique_ptr<sim::Runner> runner;
  std::unique_ptr<sim::BackgroundRunner> thread;
  std::string com;   // "COM200" when linked
  fs::path link;     // the link in the Wine prefix
};

// Instrument boards: "board" (a UZ1 board) or "board-uz1", "board-uz2",
// "board-iris", "board-lumen". A board frames its own packets.
bool make_board(Device& d) {
  const std::pair<std::string_view, sim::BoardKind> kinds[] = {
      {"board", sim::BoardKind::uz1},         {"board-uz1", sim::BoardKind::uz1},
      {"board-uz2", sim::BoardKind::uz2},     {"board-iris", sim::BoardKind::iris},
      {"board-lumen", sim::BoardKind::lumen}};
  for (const auto& [name, kind] : kinds) {
    if (d.kind != name) continue;
    auto board = std::make_unique<sim::InstrumentBoard>(kind);
    d.framer = &board->framer();
    d.model = std::move(board);
    return true;
  }
  return false;
}

bool make_model(Device& d) {
  if (make_board(d)) return true;
  if (d.kind == "temp") {
    auto controller = std::make_unique<sim::TemperatureController>();
    d.framer = &controller->framer();
    d.model = std::move(controller);
    return true;
  }
  if (d.kind == "wavemon") {
    auto monitor = std::make_unique<sim::WaveMonitor>();
    d.framer = &monitor->framer();
    d.model = std::move(monitor);
    return true;
  }
  if (d.kind == "motion") {
    auto controller = std::make_unique<sim::MotionController>();
    d.framer = &controller->framer();
    d.model = std::move(controller);
    return true;
  }
  if (d.kind == "loopback") {
    d.framing = std::make_unique<sim::RawFramer>();
    d.model = std::make_unique<sim::LoopbackDevice>();
    d.framer = d.framing.get();
    return true;
  }
  if (d.kind == "line") {
    d.framing = std::make_unique<sim::LineFramer>("\r");
  } else if (d.kind == "block") {
    d.framing = std::make_unique<sim::BlockFramer>(0x02, 0x03, &sim::xor8);
  } else if (d.kind == "length") {
    d.framing = std::make_unique<sim::LengthPrefixFramer>(1, &sim::sum8);
  } else {
    return false;
  }
  d.model = std::make_unique<sim::EchoDevice>(*d.framing);
  d.framer = d.framing.get();
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: simdev [--wine-prefix DIR] [--first-com N] [--ready FILE] [--no-stdin]\n"
               "              [--lifetime SECONDS]\n"
               "              [loopback|line|block|length|board|board-uz1|board-uz2|board-iris|board-lumen|\n"
               "               temp|wavemon|motion]...\n");
  return 2;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--wine-prefix" && has_value) {
      o.wine_prefix = argv[++i];
    } else if (a == "--first-com" && has_value) {
      o.first_com = std::atoi(argv[++i]);
      if (o.first_com < 1 || o.first_com > 255) return false;
    } else if (a == "--ready" && has_value) {
      o.ready = argv[++i];
    } else if (a == "--no-stdin") {
      o.use_stdin = false;
    } else if (a == "--lifetime" && has_value) {
      o.lifetime_s = std::atol(argv[++i]);
      if (o.lifetime_s <= 0) return false;
    } else if (a.starts_with("--")) {
      return false;
    } else {
      o.kinds.emplace_back(a);
    }
  }
  if (o.kinds.empty()) o.kinds.emplace_back("line");
  return true;
}

// Points the prefix's comN at the device. An old link of that name (left by
// a helper that was killed) is replaced; anything else is left alone.
bool link_device(Device& d, const fs::path& dosdevices, int number) {
  d.com = "COM" + std::to_string(number);
  const fs::path link = dosdevices / ("com" + std::to_string(number));
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(link, ec);
  if (fs::exists(st)) {
    if (!fs::is_symlink(st)) {
      std::fprintf(stderr, "simdev: %s exists and is no link\n", link.c_str());
      return false;
    }
    fs::remove(link, ec);
  }
  fs::create_symlink(d.line.device(), link, ec);
  if (ec) {
    std::fprintf(stderr, "simdev: cannot link %s: %s\n", link.c_str(), ec.message().c_str());
    return false;
  }
  d.link = link;
  return true;
}

// Removes the link if it still points at the device.
void unlink_device(const Device& d) {
  if (d.link.empty()) return;
  std::error_code ec;
  if (fs::read_symlink(d.link, ec) == fs::path(d.line.device())) fs::remove(d.link, ec);
}

std::string describe(const Device& d) {
  std::string s = d.kind + " " + d.line.device();
  if (!d.link.empty()) s += " " + d.com + " " + d.link.string();
  return s;
}

bool write_ready(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  return !ec;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!parse(argc, argv, opt)) return usage();

  std::vector<std::unique_ptr<Device>> devices;
  auto cleanup = [&] {
    for (const auto& d : devices) unlink_device(*d);
    if (!opt.ready.empty()) {
      std::error_code ec;
      fs::remove(opt.ready, ec);
    }
  };
  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);

  const fs::path dosdevices =
      opt.wine_prefix.empty() ? fs::path() : fs::absolute(opt.wine_prefix) / "dosdevices";
  if (!dosdevices.empty() && !fs::is_directory(dosdevices)) {
    std::fprintf(stderr, "simdev: %s is no directory\n", dosdevices.c_str());
    return 1;
  }
  std::string lines;
  for (const std::string& kind : opt.kinds) {
    auto d = std::make_unique<Device>();
    d->kind = kind;
    if (!make_model(*d)) {
      std::fprintf(stderr, "simdev: unknown kind \"%s\" (loopback, line, block, length, board[-uz1|-uz2|-iris|-lumen], temp, wavemon or motion)\n",
                   kind.c_str());
      cleanup();
      return 2;
    }
    if (!d->line.ok()) {
      std::fprintf(stderr, "simdev: no pseudo-terminal available\n");
      cleanup();
      return 1;
    }
    const bool linked = dosdevices.empty() ||
                        link_device(*d, dosdevices, opt.first_com + static_cast<int>(devices.size()));
    devices.push_back(std::move(d));
    if (!linked) {
      cleanup();
      return 1;
    }
    Device& dev = *devices.back();
    dev.runner = std::make_unique<sim::Runner>(dev.line, *dev.framer, dev.script, *dev.model);
    dev.thread = std::make_unique<sim::BackgroundRunner>(*dev.runner);
    lines += describe(dev) + "\n";
  }
  std::fputs(lines.c_str(), stdout);
  std::fflush(stdout);
  if (!opt.ready.empty() && !write_ready(opt.ready, lines)) {
    std::fprintf(stderr, "simdev: cannot write %s\n", opt.ready.c_str());
    cleanup();
    return 1;
  }

  // Standard input is watched from a thread of its own, so that a signal or
  // the time limit can end the wait; the thread is left blocked at exit.
  auto input_ended = std::make_shared<std::atomic<bool>>(false);
  if (opt.use_stdin) {
    std::thread([input_ended] {
      std::string ignored;
      std::getline(std::cin, ignored);
      *input_ended = true;
    }).detach();
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opt.lifetime_s);
  while (g_signalled == 0 && !*input_ended) {
    if (opt.lifetime_s > 0 && std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "simdev: stopping after %ld s\n", opt.lifetime_s);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  cleanup();
  return 0;
}
