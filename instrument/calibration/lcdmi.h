/// @file
/// The LCDMI position instrument's configuration file: its up to three
/// measurement channels' hardware settings, read from a keyword text file
/// into a record, and the record formatted as text.
///
/// Messages of this file end in `"\r\n"`, the instrument software's console
/// convention, on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr int LCDMI_CHANNELS = 3;    ///< measurement channels of the instrument
inline constexpr int LCDMI_LABEL_MAX = 10;  ///< characters of a channel label

/// The hardware settings of one measurement channel.
struct lcdmi_channel_t {
  int32_t id;                       ///< 1..3, 0 when the file had no line for the channel
  int32_t disabled;                 ///< 0/1
  int32_t avgInput;                 ///< 0/1, from AvgChannels
  int32_t outputType;               ///< 0..1
  int32_t polarity;                 ///< 0..1
  int32_t resolution;               ///< 0..3
  int32_t filterCutoff;             ///< 0..7
  int32_t nomDataRate;              ///< 0..3
  double scaleFactor;               ///< -99..99
  char label[LCDMI_LABEL_MAX + 1];  ///< the channel's label, terminated
};

/// The instrument's configuration as read from the file.
struct lcdmi_config_t {
  int32_t diagOpts;                      ///< option n sets bit (n - 1) modulo 32
  int32_t avgInputs;                     ///< 1 once an AvgChannels line was read
  int32_t primChan;                      ///< the first channel read that is not disabled, 0 if none
  int32_t reserved;                      ///< unused
  lcdmi_channel_t chan[LCDMI_CHANNELS];  ///< channel ids 1, 2, 3
};

/// Reads a configuration file into `config` (zeroed first). 0; ERR_LCDMI_CONFIG
/// at the first error; ERR_CANT_OPEN_FILE; ERR_INVALID_PARAM without a path or
/// record. `message` (null: none) is cleared and receives the error text.
int lcdmi_read_config(const char* path, lcdmi_config_t* config, std::string* message);

/// Formats the record into `text` (terminated), stopping before the first
/// piece that would not fit. Returns `text`, or null without a record or
/// buffer or with no room at all.
char* lcdmi_format_config(const lcdmi_config_t* config, char* text, std::size_t capacity);

/// Writes the formatted record (at most 998 characters of it) to `stream`.
void lcdmi_print_config(std::FILE* stream, const lcdmi_config_t* config);

namespace felbrin {
/// lcdmi_read_config on an open stream (binary mode) from its current
/// position; `name` is the file name the messages show.
int lcdmi_read_config_stream(std::FILE* f, const char* name, lcdmi_config_t* config,
                             std::string* message);
}  // namespace felbrin
