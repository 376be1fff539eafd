// The simulated acquisition system behind the stand-in acquisition library:
// the scenario's devices, cameras and modes, what is selected, the name
// cursors, the last error and frame grabbing. It behaves as strictly as
// hardware does, so binding mistakes show: a selection succeeds only for an
// ID of the current parent; first/next names give null past the end and
// at a missing name; a query of a key without a value fails and writes
// kPoison into its output; every failure sets the last error.
//
// Not thread-safe: the exports file holds one lock around every call.
// Names handed out stay valid until the next init or release.
#pragma once

#include <cstdint>
#include <string>

#include "sim/acquisition/frame_script.h"
#include "sim/acquisition/scenario.h"

namespace sim::acq {

// The three levels of the library's lists.
enum class Level { Device = 0, Input = 1, Mode = 2 };

// What a failed query leaves in its output: a binding that uses it shows.
inline constexpr double kPoison = -7777.0;

class CameraSystem {
 public:
  // Reads the scenario file: a bare name means a file in the folder the
  // platform keeps initialisation files in, as the binding's reader finds
  // it. On a failure why() says what went wrong.
  bool init(const char* ini_name);
  // As init, from the file's text.
  bool init_from_text(std::string_view text);
  // Forgets the scenario: everything fails until the next init.
  void release();
  const std::string& why() const { return why_; }

  int32_t count(Level level);
  const char* first_name(Level level);
  const char* next_name(Level level);
  int32_t id_of(Level level, const char* name);
  bool select(Level level, int32_t id);
  int32_t current(Level level);
  bool query(Level level, const char* key, double* value);
  // "CFG FILE PATH" takes a text, every other key a double.
  bool set(Level level, const char* key, const void* value);
  const std::string& cfg_file_path() const { return cfg_file_path_; }

  bool open();
  bool close();
  bool acquire_start(int32_t frames);
  bool acquire_stop();
  bool read(void* buffer, int32_t bytes);
  int32_t frames_served() const { return script_.served(); }

  int32_t last_error() const { return last_error_; }
  // Failures so far: a caller tells whether a call failed by comparing.
  int64_t failures() const { return failures_; }
  void set_last_error(int32_t number) { last_error_ = number; }

 private:
  bool fail(int32_t number) {
    last_error_ = number;
    ++failures_;
    return false;
  }
  int32_t fail_zero(int32_t number) {
    fail(number);
    return 0;
  }
  const char* fail_null(int32_t number) {
    fail(number);
    return nullptr;
  }
  // The node whose children the level lists; null when none is selected.
  Node* parent(Level level);
  Node* selected(Level level);
  static int32_t not_found(Level level) {
    return level == Level::Mode ? kErrInvalidMode : kErrInvalidDevice;
  }
  // The error of a call whose parent is not selected (or not there at all).
  int32_t no_parent(Level level) const { return ready_ ? not_found(level) : kErrDeviceInitialize; }

  bool ready_ = false;
  Scenario scenario_;
  std::string why_;
  int current_[3] = {-1, -1, -1};  // index into the parent's children
  int cursor_[3] = {-1, -1, -1};   // of the last first/next name given
  int32_t last_error_ = 0;
  int64_t failures_ = 0;
  std::string cfg_file_path_;
  bool open_ = false;
  bool acquiring_ = false;
  FrameScript script_;
};

}  // namespace sim::acq
