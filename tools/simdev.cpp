// simdev: simulated instruments on pseudo-terminals, so a person can point a
// host program at them without hardware, and so the Windows tests, run under
// Wine, have COM ports to open.
//
//   simdev [options] KIND...
//
// Starts one device per KIND and prints one line per device (see below).
// The kinds, the options and which board fits which calibration file are
// in the usage text (simdev --help), written from the tables below. Runs
// until a line is entered on standard input, SIGTERM or SIGINT, or the
// --lifetime; standard input that ends without a line (a helper started in
// the background) does not stop it.
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

#include "platform/platform.h"
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

template <class Model>
void serve(Device& d) {
  auto model = std::make_unique<Model>();
  d.framer = &model->framer();
  d.model = std::move(model);
}

template <sim::BoardKind kKind>
void serve_board(Device& d) {
  auto board = std::make_unique<sim::InstrumentBoard>(kKind);
  d.framer = &board->framer();
  d.model = std::move(board);
}

void serve_echo(Device& d, std::unique_ptr<sim::Framer> framing) {
  d.framing = std::move(framing);
  d.model = std::make_unique<sim::EchoDevice>(*d.framing);
  d.framer = d.framing.get();
}

// Every kind of device, with what it simulates: the usage text and the
// device maker read the same rows.
struct Kind {
  std::string_view name;
  std::string_view what;
  void (*make)(Device&);
};

constexpr Kind kKinds[] = {
    {"board", "the UZ1 instrument board (as board-uz1)", serve_board<sim::BoardKind::uz1>},
    {"board-uz1", "the UZ1 instrument board: a Version line naming Sable (sable-birch3.cal)",
     serve_board<sim::BoardKind::uz1>},
    {"board-uz2", "the UZ2 instrument board: a Version line naming Kite (kite.cal)", serve_board<sim::BoardKind::uz2>},
    {"board-iris", "the Iris instrument board: a Version line naming Iris", serve_board<sim::BoardKind::iris>},
    {"board-lumen", "the Lumen instrument board: a Version line naming Lumen (lumen.cal)",
     serve_board<sim::BoardKind::lumen>},
    {"temp", "a temperature controller at address 0011", serve<sim::TemperatureController>},
    {"wavemon", "a wave monitor (laser off, not calibrated)", serve<sim::WaveMonitor>},
    {"motion", "a serial motion controller: six axes, not homed, firmware 2.3, homing at once",
     serve<sim::MotionController>},
    {"loopback", "every byte goes straight back, whatever its value",
     [](Device& d) {
       d.framing = std::make_unique<sim::RawFramer>();
       d.model = std::make_unique<sim::LoopbackDevice>();
       d.framer = d.framing.get();
     }},
    {"line", "an echo device: text ending in CR",
     [](Device& d) { serve_echo(d, std::make_unique<sim::LineFramer>("\r")); }},
    {"block", "an echo device: STX text ETX with an XOR checksum",
     [](Device& d) { serve_echo(d, std::make_unique<sim::BlockFramer>(0x02, 0x03, &sim::xor8)); }},
    {"length", "an echo device: a one-byte length, the text, a sum checksum",
     [](Device& d) { serve_echo(d, std::make_unique<sim::LengthPrefixFramer>(1, &sim::sum8)); }},
};

bool make_model(Device& d) {
  for (const Kind& k : kKinds) {
    if (k.name != d.kind) continue;
    k.make(d);
    return true;
  }
  return false;
}

std::string usage_text() {
  std::string text =
      "Usage: simdev [options] KIND...\n"
      "Runs simulated devices on pseudo-terminals, one per KIND, and prints a line\n"
      "\"<kind> <terminal>\" for each; point a program at the terminal (or, under\n"
      "Wine, at the COM port). Stops when a line is entered, on Ctrl-C or SIGTERM,\n"
      "or after --lifetime.\n"
      "\n"
      "Kinds:\n";
  for (const Kind& k : kKinds) {
    std::string name(k.name);
    name.resize(13, ' ');
    text += "  " + name + std::string(k.what) + "\n";
  }
  text +=
      "A board must be the one the calibration file's Version line names (its last\n"
      "word): the library speaks that board's protocol, and another board's answers\n"
      "look like noise (\"recvd invalid resp\").\n"
      "\n"
      "Options:\n"
      "  --wine-prefix DIR  also link DIR/dosdevices/comN to each device, N counting\n"
      "                     up from --first-com, so that a program under Wine with\n"
      "                     WINEPREFIX=DIR opens it as COMN\n"
      "  --first-com N      the first COM number (default 200; Wine claims the low\n"
      "                     ones for the machine's own serial ports)\n"
      "  --ready FILE       once every device is up, write the device lines to FILE\n"
      "                     (removed on exit), for scripts that wait for the ports\n"
      "  --no-stdin         ignore standard input: run until a signal or --lifetime\n"
      "  --lifetime S       stop after S seconds whatever happens\n"
      "  -h, --help         print this text\n"
      "\n"
      "Exit codes: 0 stopped as asked, 1 a device or link could not be made,\n"
      "2 usage error.\n";
  return text;
}

int usage_error(const std::string& problem) {
  std::fprintf(stderr, "simdev: %s (see simdev --help)\n", problem.c_str());
  return 2;
}

// -1 when the devices are to run, else the exit code.
int parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "-h" || a == "--help") {
      std::fputs(usage_text().c_str(), stdout);
      return 0;
    } else if (a == "--wine-prefix" && has_value) {
      o.wine_prefix = argv[++i];
    } else if (a == "--first-com" && has_value) {
      o.first_com = std::atoi(argv[++i]);
      if (o.first_com < 1 || o.first_com > 255) return usage_error("--first-com takes a number from 1 to 255");
    } else if (a == "--ready" && has_value) {
      o.ready = argv[++i];
    } else if (a == "--no-stdin") {
      o.use_stdin = false;
    } else if (a == "--lifetime" && has_value) {
      o.lifetime_s = std::atol(argv[++i]);
      if (o.lifetime_s <= 0) return usage_error("--lifetime takes a number of seconds above 0");
    } else if (!has_value && (a == "--wine-prefix" || a == "--first-com" || a == "--ready" || a == "--lifetime")) {
      return usage_error("option " + std::string(a) + " needs a value");
    } else if (a.starts_with("-")) {
      return usage_error("unknown option \"" + std::string(a) + "\"");
    } else {
      o.kinds.emplace_back(a);
    }
  }
  if (o.kinds.empty()) {
    std::fprintf(stderr, "simdev: no device kind given\n\n%s", usage_text().c_str());
    return 2;
  }
  return -1;
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
  if (const int code = parse(argc, argv, opt); code >= 0) return code;

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
      cleanup();
      return usage_error("unknown kind \"" + kind + "\"");
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
  // the time limit can end the wait; the thread is left blocked at exit. A
  // line entered stops the devices; input that ends without one (a helper
  // started in the background, with nothing on standard input) does not,
  // unless it is a terminal, where the end (Ctrl-D) is the user's word.
  enum Input { waiting, line_entered, ended };
  auto input = std::make_shared<std::atomic<int>>(waiting);
  if (opt.use_stdin) {
    std::thread([input] {
      std::string line;
      input->store(std::getline(std::cin, line) ? line_entered : ended);
    }).detach();
  }
  const bool terminal = plat::is_terminal(stdin);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opt.lifetime_s);
  bool told_of_end = false;
  for (;;) {
    if (g_signalled != 0) {
      std::fprintf(stderr, "simdev: stopping on a signal\n");
      break;
    }
    if (*input == line_entered) {
      std::fprintf(stderr, "simdev: stopping: a line was entered\n");
      break;
    }
    if (*input == ended && terminal) {
      std::fprintf(stderr, "simdev: stopping: end of input\n");
      break;
    }
    if (*input == ended && !told_of_end) {
      std::fprintf(stderr, "simdev: standard input ended; serving until a signal%s\n",
                   opt.lifetime_s > 0 ? " or the lifetime" : " (Ctrl-C, kill)");
      told_of_end = true;
    }
    if (opt.lifetime_s > 0 && std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "simdev: stopping after %ld s\n", opt.lifetime_s);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  cleanup();
  return 0;
}
