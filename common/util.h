/// @file
/// Small helpers shared by every module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

/// Reverses the order of n bytes in place; n is 2, 4 or 8. Any other n is a
/// programming error: it is logged and the process aborts.
void u_swap_bytes(void* value, int n);

/// True when the path names an existing regular file. A directory or a null
/// path does not count. The path may be a marked wide path (see
/// u_is_wide_path).
bool u_file_exists(const char* path);

/// True when `path` is a marked wide path. A narrow path argument may instead point
/// to a UTF-16 string whose first unit is 0xFEFF or 0xFFFE; the file operations then
/// use the wide-character interface for the units that follow the marker.
bool u_is_wide_path(const char* path);

/// A real as a 32-bit integer, truncated toward zero and saturating: NaN
/// gives 0, values beyond the range the nearest limit. Reals from files,
/// devices and callers become integers through this, never a plain cast.
int32_t u_saturated_int(double v);

// ---- files

/// Copies a file, replacing an existing destination. The destination is
/// replaced only once the whole copy is written, so a failure leaves it as it
/// was. On failure logs "u_copy_file failed: win_err = %d\n" with the host's
/// error number and returns ERR_CANT_WRITE_FILE (125).
int u_copy_file(const char* source, const char* destination);

namespace felbrin {
/// True when `v` is one of the values listed (a set of system types, board
/// types, reply bytes...).
template <class T>
constexpr bool is_one_of(T v, std::initializer_list<std::type_identity_t<T>> set) {
  for (const T& x : set) {
    if (x == v) return true;
  }
  return false;
}

/// u_copy_file for a private temporary file written to replace
/// `destination`: a destination that does not exist yet gets the permission
/// bits of any new file the process creates, not the temporary file's.
int copy_temp_file(const char* temp, const char* destination);
}  // namespace felbrin

// ---- text (a null text counts as empty; white space is classified with
// ASCII rules, so bytes above 0x7F are never white space)

/// Removes blanks, tabs and line ends at both ends, in place; returns the
/// number of characters removed.
int u_trim(char* text);
/// Removes every white-space character outside double quotes, in place; a
/// double quote toggles the inside state and stays. Returns the number removed.
int u_squeeze(char* text);
/// Compares loosely: colons in `text` count as blanks, white space outside
/// double quotes is ignored in both, letters compare in upper case. Returns
/// -1, 0 or 1. So "Pixel Size: 1" equals the keyword "PIXELSIZE1".
int strxcmp(const char* text, const char* keyword);

// ---- pause and clocks

/// Suspends the calling thread for `ms` milliseconds (negative counts as 0),
/// through the sleep hook.
void u_sleep_ms(int ms);
/// The current time: seconds since the epoch and the microseconds within the
/// second (whole milliseconds).
void u_get_time(int64_t* seconds, int32_t* microseconds);
/// The current time in seconds.
double u_time_now();
/// Starts the process-wide stopwatch; returns the current time in seconds (u_time_now).
double u_stopwatch_start();
/// Seconds since the process-wide stopwatch was last started.
double u_stopwatch_elapsed();

/// Calibrates the high-resolution interval timer: reads the counter's frequency and
/// the cost of one reading, and starts a lap. Results of the timer functions are microseconds in 32
/// bits; they saturate beyond that range, and are 0 when the host has no counter.
void u_perf_calibrate();
/// Microseconds since the previous lap (less the cost of a reading), and starts the
/// next lap; calibrates first when that has not been done.
int32_t u_perf_lap_us();
/// The raw value of the high-resolution counter, in counter units.
int64_t u_perf_counter();
/// Microseconds between two raw counter readings (u_perf_counter), rounded.
int32_t u_perf_diff_us(int64_t earlier, int64_t later);
/// Microseconds of the counter, the low 32 bits (they wrap; differences of
/// nearby readings stay right).
int32_t u_perf_now_us();

/// Size of the buffers that u_now_text and u_time_text fill, terminator included.
constexpr int U_TIME_TEXT_SIZE = 40;
/// The current local date and time as "%Y-%m-%d %H:%M:%S"; `buffer` holds at least
/// U_TIME_TEXT_SIZE bytes. A time the host cannot convert gives "".
void u_now_text(char* buffer);
/// Local date and time of `time` (seconds since the epoch) as "%Y-%m-%d %H:%M:%S";
/// `buffer` holds at least U_TIME_TEXT_SIZE bytes. A time the host cannot convert
/// gives "".
void u_time_text(int64_t time, char* buffer);
