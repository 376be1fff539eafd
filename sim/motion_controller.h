/// @file
/// A simulated serial motion controller: six stage axes, a joystick,
/// function keys and an emergency stop, behind a line protocol of two-letter
/// codes with decimal arguments. Every line carries a one-character checksum
/// (the byte sum, low six bits, 0x40 set) before its LF; the controller
/// answers each intact command it knows with an ACK line (0x06 and its
/// checksum), a query also with a reply line that starts with the query's
/// code, and anything else (a damaged line, an unknown code, bad arguments,
/// a command the firmware lacks) with a NAK line (0x15). Its lines end with
/// LF alone: a host that took CR LF would see an empty line.
///
/// Moves take time on the library's clock (u_ticks_ms): a move runs at its
/// axis's velocity, velocity × 8000000 / 32768 counts per second (so 4096 is
/// a count per microsecond), from start to end; the acceleration and the
/// start-stop velocity are kept but do not shape the move. A move that meets
/// a limit switch ends there with status 3 and error 18. A home search takes
/// the axis's home delay and then sends its "FH" reply unasked; position
/// reports, function keys and the emergency stop speak unasked too ("RP",
/// "RF", "EP", "EL"). Its code list and checksum are its own, written from
/// the controller's documentation apart from the library's tables. Faults of
/// the line (NAKs, silence, garbage, spoiled checksums) come from a script,
/// not from here.
///
/// Replies: "RS" and "RE" the six axes' statuses or errors and the
/// controller's own, "RP" six positions (0xFFFFFFF for an axis that is not
/// there, or in a report for one whose reports are off), "RR major minor ",
/// "RC name n n ", "HS axis homed ", "GC axis value ", "ZH 0" once the Z axis
/// stands at its limit switch (it then counts from the reference given) and
/// "ZH 1" otherwise; a search ends with "FH axis found ". "GH" drives a homed
/// axis back to where its search left it; "JE 7" names no axis and does
/// nothing. A stopped search never answers. Under the emergency stop every
/// axis reports status 7 and error 21, and moves, searches and joysticks do
/// nothing until the button is released.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device_model.h"
#include "sim/framer.h"

namespace sim {

/// The controller's line checksum.
uint8_t motion_checksum(std::span<const uint8_t> bytes);

/// A simulated serial motion controller (see the file comment).
class MotionController final : public DeviceModel {
 public:
  static constexpr int kAxes = 6;        ///< stage axes, numbered 0..5
  static constexpr int kAllAxes = 6;     ///< the axis number meaning every axis
  static constexpr uint8_t kAck = 0x06;  ///< the byte of an ACK line
  static constexpr uint8_t kNak = 0x15;  ///< the byte of a NAK line
  /// The position of an axis that is not there or does not report.
  static constexpr int64_t kUnknown = 0xFFFFFFF;
  /// The longest move, and the distance that drives an axis to its limit.
  static constexpr int64_t kLongestMove = 0xFFFFFF;

  // Statuses of "RS" (the controller's own is 2, or 7 while stopped).
  static constexpr int kMoving = 1,  ///< "RS": moving
      kStopped = 2,                  ///< "RS": stopped
      kStoppedError = 3,             ///< "RS": stopped with an error (at a limit)
      kUnavailable = 4,              ///< "RS": the axis is not there
      kInvalidMove = 5,              ///< "RS": the last move was refused
      kJoystick = 6,                 ///< "RS": under joystick control
      kKillSwitch = 7;               ///< "RS": the emergency stop is pressed
  // Errors of "RE": of a refused move (status 5), of a stop (status 3) and
  // of the emergency stop.
  static constexpr int kNoError = 0,  ///< "RE": no error
      kBusy = 12,                     ///< "RE": move refused, the axis is moving or homing
      kNoHome = 17,                   ///< "RE": move refused, absolute move of an axis not homed
      kLimit = 18,                    ///< "RE": stopped at a limit switch
      kZStop = 19,                    ///< "RE": stopped at the Z stop
      kKilled = 21,                   ///< "RE": the emergency stop
      kJoystickOn = 22,               ///< "RE": move refused, the joystick is on
      kTooLarge = 23;                 ///< "RE": move refused, longer than kLongestMove

  static constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();  ///< no limit switch

  /// An axis as the test sets it up; set_axis stops whatever it was doing.
  struct AxisSetup {
    bool present = true;   ///< false: the axis is not there
    bool homed = false;    ///< the axis starts homed
    int64_t position = 0;  ///< the starting position, counts
    /// Limit switches, in counts; a move that reaches one stops there.
    int64_t low_limit = -kNoLimit;
    int64_t high_limit = kNoLimit;  ///< see low_limit
    int64_t home_position = 0;      ///< where a home search leaves the axis
    int64_t home_delay_ms = 0;      ///< how long a home search takes
    bool home_found = true;         ///< false: the search ends with "found 0"
    int config = 0;                 ///< the value of "GC"
  };

  /// What the controller holds for an axis, at the time of asking.
  struct AxisView {
    int status = kStopped;  ///< as "RS" reports it
    int error = kNoError;   ///< as "RE" reports it
    int64_t position = 0;   ///< counts, now
    int64_t target = 0;     ///< where the last move was going
    bool homed = false;     ///< a home search found home
    bool homing = false;    ///< a home search runs
    bool joystick = false;  ///< the joystick drives the axis
    bool reports = true;    ///< included in position reports ("AP")
    int mode = 0;           ///< 0 relative, 1 absolute
    int accel = 1000;       ///< acceleration ("AA")
    int velocity = 4096;    ///< velocity ("AR")
    int ss_velocity = 100;  ///< start-stop velocity ("AS")
  };

  /// A controller with firmware 2.3, every axis present and stopped at 0.
  MotionController();

  /// The controller's line framing.
  Framer& framer() { return framer_; }
  std::vector<std::vector<uint8_t>> handle(const Frame& request) override;
  std::vector<std::vector<uint8_t>> unasked() override;
  int64_t next_unasked_ms() const override;

  // ---- state for tests and hosts (safe from any thread)

  /// The firmware version "RR" reports; older firmware lacks some commands.
  void set_firmware(int major, int minor);
  /// Sets an axis up (see AxisSetup).
  void set_axis(int axis, const AxisSetup& setup);
  void set_home_delay_ms(int64_t ms);  ///< of every axis
  /// The axis that "ZH" re-references (2 unless set).
  void set_z_axis(int axis);
  /// While reports are on, one "RP" line this often (200 ms unless set).
  void set_report_period_ms(int64_t ms);
  /// What "RC" answers.
  void set_config(std::string name, int first, int second);
  /// The axis meets a switch here and now: a move stops with status 3 and
  /// `error` (kLimit, or kZStop for the Z stop). False when it was not moving.
  bool hit_limit(int axis, int error = kLimit);
  /// "RF key" goes out if the function keys are enabled; false otherwise.
  bool press_function_key(int key);
  /// Moves an axis under joystick control, within its limits; false when
  /// its joystick is off.
  bool move_joystick(int axis, int64_t counts);
  /// The stop button: every axis halts and loses its home, "EP" goes out.
  /// Releasing it sends "EL" (reset needed) and lets the axes move again.
  void emergency_stop();
  /// Releases the stop button (see emergency_stop).
  void release_emergency_stop();
  /// "EL" alone, as after a power dip.
  void reset_needed();

  /// What the controller holds for `axis` now.
  AxisView axis(int axis) const;
  /// Accepted command texts (without checksum and LF), in order.
  std::vector<std::string> commands() const;
  /// The last accepted command with this code; empty if none.
  std::string last(std::string_view code) const;
  /// NAK lines sent.
  int naks() const;
  /// True while position reports are on ("PE", "PD").
  bool reports_on() const;
  /// True while the function keys are enabled ("FE", "FD").
  bool fkeys_enabled() const;
  /// The function key labels "FK" gave, in order.
  std::vector<std::string> fkey_labels() const;
  /// True while the emergency stop is pressed.
  bool stopped_by_button() const;
  /// A controller line as it goes out: text, checksum, LF.
  std::vector<uint8_t> line(std::string_view text) const { return framer_.wrap(to_bytes(text)); }

  enum class Op : uint8_t;
  struct Entry;

 private:
  struct Axis {
    AxisSetup setup;
    bool homed = false;
    int64_t position = 0;  ///< while moving: where the move started
    int64_t target = 0;    ///< what the last move asked for
    int64_t goal = 0;      ///< where it ends: the target or a limit
    bool moving = false;
    int64_t start_ms = 0, end_ms = 0;
    int end_error = kNoError;  ///< set when the move ends (at a limit)
    bool homing = false;
    int64_t home_due = 0;
    int error = kNoError;
    bool invalid = false;  ///< error is a refused move's
    bool joystick = false;
    bool reports = true;
    int mode = 0;
    int accel = 1000, velocity = 4096, ss_velocity = 100;
  };

  /// The reply line of a query (empty for a plain command); false when the
  /// command is refused.
  bool execute(const Entry& e, std::span<const int64_t> args, std::string_view word,
               std::string& reply);
  void settle_locked(int64_t now);
  int64_t position_locked(const Axis& a, int64_t now) const;
  int status_locked(const Axis& a) const;
  int error_locked(const Axis& a) const;
  void halt_locked(Axis& a, int64_t now);
  void move_locked(Axis& a, int64_t value, int64_t now);
  void emit_locked(std::string_view text);
  bool firmware_at_least(int major, int minor) const;

  LineFramer framer_;
  mutable std::mutex mutex_;
  std::array<Axis, kAxes> axes_{};
  int major_ = 2, minor_ = 3;
  int z_axis_ = 2;
  bool killed_ = false;
  bool fkeys_ = false;
  std::vector<std::string> labels_;
  bool reports_ = false;
  int64_t report_period_ = 200;
  int64_t next_report_ = 0;
  std::string config_name_ = "NOVA";
  int config_first_ = 1, config_second_ = 0;
  std::vector<std::vector<uint8_t>> outbox_;
  std::vector<std::string> commands_;
  int naks_ = 0;
};

}  // namespace sim
