// Timing a command as users run it: a fresh process per run, waited for.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "platform/host_platform.h"

namespace felbrin::bench {

inline std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// One run of a command line, waited for; exits the benchmark when it fails.
inline double run(const std::string& cmdline) {
  int exit_code = 0;
  plat::host::SpawnOptions options;
  options.wait = true;
  options.show_mode = 2;
  const double t = seconds([&] {
    if (plat::host::spawn(cmdline, options, exit_code) != 0) exit_code = -1;
  });
  if (exit_code != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", exit_code, cmdline.c_str());
    std::exit(2);
  }
  return t;
}

inline std::vector<char> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The floor: the output's bytes written to a new file from memory.
inline double write_floor(const std::vector<char>& bytes, const std::string& path) {
  std::filesystem::remove(path);
  return seconds([&] {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0)
      std::exit(3);
  });
}

}  // namespace felbrin::bench
