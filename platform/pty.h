// A pseudo-terminal pair for tests and simulators on POSIX hosts: the slave
// is the device a program opens by name, the master is the far end of the
// line. The pair keeps a descriptor of its own on the slave, so the master
// never sees the line hang up when the program closes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plat {

class PtyPair {
 public:
  // Line settings as the terminal driver holds them.
  struct Settings {
    uint32_t baud = 0;  // 0 for a speed outside the standard list
    int data_bits = 0;
    bool parity = false;
    bool odd = false;
    bool two_stop = false;
    bool cts_flow = false;
    bool xon_out = false;
    bool xon_in = false;
    bool raw = false;  // no echo, no line editing, no translation, no signals
  };

  PtyPair();  // opens the pair; ok() tells whether that worked
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& device() const { return name_; }

  // Far end: writes all bytes; false on failure.
  bool send(std::span<const uint8_t> bytes);
  // Far end: what arrives until `count` bytes came or `timeout_ms` passed.
  std::vector<uint8_t> receive(std::size_t count, int timeout_ms);
  bool settings(Settings& out) const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

}  // namespace plat
