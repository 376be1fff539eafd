/// @file
/// A pseudo-terminal pair for tests and simulators on POSIX hosts: the slave
/// is the device a program opens by name, the master is the far end of the
/// line. The pair keeps a descriptor of its own on the slave, so the master
/// never sees the line hang up when the program closes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace plat {

/// A pseudo-terminal pair (see the file comment); closed when destroyed. Not
/// copyable.
class PtyPair {
 public:
  /// Line settings as the terminal driver holds them.
  struct Settings {
    uint32_t baud = 0;      ///< 0 for a speed outside the standard list
    int data_bits = 0;      ///< data bits per byte, 5 to 8
    bool parity = false;    ///< parity generated and checked
    bool odd = false;       ///< odd parity rather than even
    bool two_stop = false;  ///< two stop bits rather than one
    bool cts_flow = false;  ///< RTS/CTS hardware flow control
    bool xon_out = false;   ///< XON/XOFF flow control of output
    bool xon_in = false;    ///< XON/XOFF flow control of input
    bool raw = false;       ///< no echo, no line editing, no translation, no signals
  };

  PtyPair();  ///< opens the pair; ok() tells whether that worked
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  /// True when both ends are open.
  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  /// The slave's device name, for a program to open.
  const std::string& device() const { return name_; }

  /// Far end: writes all bytes; false on failure.
  bool send(std::span<const uint8_t> bytes);
  /// Far end: what arrives until `count` bytes came or `timeout_ms` passed.
  std::vector<uint8_t> receive(std::size_t count, int timeout_ms);
  /// Reads the slave's current line settings into `out`; false when they cannot be
  /// read.
  bool settings(Settings& out) const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

}  // namespace plat
