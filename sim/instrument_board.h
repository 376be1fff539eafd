/// @file
/// A simulated instrument board (UZ1, UZ2, Iris or Lumen): EEPROM words, the
/// light level in each board's encoding, the I/O space, ramp slots with the
/// download checks, the ramp engine's idle flag, the power check's fault byte
/// and the align-view and ring-spot moving flags.
///
/// Its command codes are its own, written from the boards' documentation
/// apart from the library's tables, and cover the commands host programs use
/// day to day; any other code is refused with a NAK, as the board refuses an
/// unknown code. Faults of the line (spoiled checksums, reports ahead of an
/// answer, silence) come from a script, not from here.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/device_model.h"
#include "sim/framer.h"

namespace sim {

/// The boards simulated.
enum class BoardKind {
  uz1,   ///< UZ1 board
  uz2,   ///< UZ2 board
  iris,  ///< Iris board
  lumen  ///< Lumen board
};

/// A simulated instrument board (see the file comment).
class InstrumentBoard final : public DeviceModel {
 public:
  /// One ramp slot.
  struct Slot {
    bool loaded = false;           ///< RAMP_COMPLETE came with every announced point
    bool loading = false;          ///< between RAMP_LOAD and RAMP_COMPLETE
    uint8_t ramp_id = 0;           ///< rampID of RAMP_LOAD
    uint8_t polar = 0;             ///< polar of RAMP_LOAD
    uint16_t announced = 0;        ///< nPoints of RAMP_LOAD
    uint16_t offset = 0,           ///< offset of RAMP_LOAD
        trig_start = 0,            ///< trigger start of RAMP_LOAD
        trig_end = 0,              ///< trigger end of RAMP_LOAD
        update_rate = 0;           ///< update rate of RAMP_LOAD
    std::vector<uint16_t> points;  ///< the points received
  };

  /// EEPROM words, in this order.
  enum Eeprom { ee_serial, ee_camera, ee_light, ee_system, ee_date, ee_board, ee_count };

  /// A board of `kind` reporting board version `version`.
  explicit InstrumentBoard(BoardKind kind, uint8_t version = 13);

  /// The framing of this board (its ramp data code differs by board).
  Framer& framer() { return framer_; }
  std::vector<std::vector<uint8_t>> handle(const Frame& request) override;

  // ---- state for tests and hosts

  /// The board simulated.
  BoardKind kind() const { return kind_; }
  /// The board's ramp slots.
  int slot_count() const { return static_cast<int>(slots_.size()); }
  /// Slot `i` (std::out_of_range outside the slots).
  const Slot& slot(int i) const { return slots_.at(static_cast<std::size_t>(i)); }
  /// The light level, as the library means it (decoded from the board's encoding).
  int light_level() const { return light_; }
  /// An EEPROM word.
  uint32_t eeprom(Eeprom word) const { return ee_[word]; }
  /// Sets an EEPROM word.
  void set_eeprom(Eeprom word, uint32_t value) { ee_[word] = value; }
  /// The byte at an address of the I/O space kIoFirst..kIoLast.
  uint8_t io(int address) const { return io_.at(static_cast<std::size_t>(address - kIoFirst)); }
  /// Sets the byte at an address of the I/O space kIoFirst..kIoLast.
  void set_io(int address, uint8_t value) {
    io_.at(static_cast<std::size_t>(address - kIoFirst)) = value;
  }
  /// POWER_CHK answers this byte.
  void set_fault(uint8_t byte) { fault_ = byte; }
  /// After RAMP_START the engine is busy this long on the library's clock.
  void set_ramp_time_ms(int64_t ms) { ramp_ms_ = ms; }
  /// The moving flags read 1 for this many polls after a change.
  void set_moving_polls(int polls) { moving_polls_ = polls; }
  /// The align-view setting, 0 or 1.
  int align_view() const { return align_view_; }
  /// The ring-spot setting, 0 or 1.
  int ring_spot() const { return ring_spot_; }
  /// RAMP_START commands accepted.
  int ramps_started() const { return ramps_started_; }
  /// RAMP_DATA packets accepted.
  int ramp_data_packets() const { return ramp_data_packets_; }

  static constexpr int kIoFirst = 4096;  ///< the first address of the I/O space
  static constexpr int kIoLast = 6143;   ///< the last address of the I/O space

  /// The board's command table.
  enum class Op : uint8_t;
  struct Entry;

 private:
  const Entry* find(uint8_t code) const;
  std::vector<uint8_t> answer(const Entry& e, const std::vector<uint8_t>& params);
  std::vector<uint8_t> ramp_data(const Frame& request);
  std::vector<uint8_t> ack() const;
  std::vector<uint8_t> nak() const;
  std::vector<uint8_t> data(uint8_t code, std::vector<uint8_t> bytes) const;
  bool idle() const;

  BoardKind kind_;
  uint8_t version_;
  BoardFramer framer_;
  std::vector<Slot> slots_;
  int loading_ = -1;
  uint32_t ee_[ee_count] = {};
  int light_ = 0;
  std::vector<uint8_t> io_;
  uint8_t fault_ = 0;
  int64_t ramp_ms_ = 0;
  int64_t busy_until_ = 0;
  int moving_polls_ = 0;
  int av_moving_ = 0, rs_moving_ = 0;
  int align_view_ = 0, ring_spot_ = 0;
  int ramps_started_ = 0;
  int ramp_data_packets_ = 0;
};

}  // namespace sim
