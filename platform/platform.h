// The thin layer between the library and the operating system. Everything
// that needs an OS header lives behind these declarations: platform/posix/
// implements them for Linux, platform/win32/ for Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace plat {

// The platform's path separator.
#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

// How the platform names a shared library file: prefix + base + suffix
// ("TrelCANopen.dll", "libTrelCANopen.so").
#ifdef _WIN32
inline constexpr std::string_view kSharedLibraryPrefix = "";
inline constexpr std::string_view kSharedLibrarySuffix = ".dll";
#else
inline constexpr std::string_view kSharedLibraryPrefix = "lib";
inline constexpr std::string_view kSharedLibrarySuffix = ".so";
#endif

// How the platform names a program file: base + suffix.
#ifdef _WIN32
inline constexpr std::string_view kProgramSuffix = ".exe";
#else
inline constexpr std::string_view kProgramSuffix = "";
#endif

// The platform's text line end, written by the text writers themselves
// (files are opened in binary mode, which is byte-identical and faster).
#ifdef _WIN32
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

// ---- encoding and the wide-path convention (portable code)

// True when the text starts with the UTF-16 marker 0xFEFF or 0xFFFE. Looks at
// the second byte only when the first is 0xFE or 0xFF, so an empty narrow
// text is never read past its terminator.
bool is_wide_marked(const char* p);
// The zero-terminated UTF-16 units that follow the marker of a marked path.
std::u16string wide_units(const char* marked);
// Conversions between UTF-16 and UTF-8; unpaired surrogates become U+FFFD.
std::string to_utf8(std::u16string_view units);
std::u16string to_utf16(std::string_view text);
// The path as readable UTF-8 text, whether narrow or marked wide.
std::string display_path(const char* path);

// ---- files (marker-aware)

// std::fopen with a path that may be marked wide; POSIX opens are close-on-exec.
std::FILE* open_file(const char* path, const char* mode);
bool is_regular_file(const char* path);
// True when the path names an existing file the owner may not write (POSIX)
// or that has the read-only attribute (Windows), through links.
bool is_read_only_file(const char* path);
bool remove_file(const char* path);
// Removes the path only when it names a regular file itself: never a
// directory, a device or a symbolic link (nor what it points at).
bool remove_regular_file(const char* path);
// A read-only stream over bytes in memory (fuzzers and tests); the bytes must
// outlive the stream. Null on failure.
std::FILE* open_memory(const void* data, std::size_t size);

// ---- directories
bool is_directory(const char* path);
// 0 when created, 17 (EEXIST) when something of that name exists, else -1.
int make_dir(const char* path);

// ---- identity (raw host values; callers cache and cut)
// Full path of the running program.
bool module_path(std::string& out);
// The computer's network name; on POSIX the short host name, upper-cased.
bool computer_name(std::string& out);
// The logon name of the user running the process.
bool user_name(std::string& out);

// ---- files
// What a destination that does not exist yet gets: the source's permission
// bits, as cp gives them, or those of any new file the process creates (a
// source that is a private temporary file).
enum class NewFileMode { like_source, like_new_file };
// Copies source over destination, replacing it: the copy goes to a new file
// in the destination's folder, which replaces the destination in one step
// only when it is complete and on disk. A symbolic link is followed, its
// target replaced and the link left in place. The replaced file keeps its
// permission bits (POSIX: and its owner and group where the process may set
// them; Windows: its attributes). A read-only destination is refused.
// Returns 0 or the host's error number.
int copy_file(const char* source, const char* destination,
              NewFileMode new_mode = NewFileMode::like_source);

// Creates a new, empty file of a unique name beginning with `prefix` in the
// temporary directory, atomically (no other process can have made it first),
// and opens it for binary writing. The name goes to `path`; null on failure
// with the host's error number in *os_error.
std::FILE* create_temp_file(std::string_view prefix, std::string& path, int* os_error);
// True when the stream reads from an interactive terminal.
bool is_terminal(std::FILE* stream);
// Closes a C runtime file descriptor.
void close_descriptor(int fd);

// ---- time
// Pauses the calling thread for the whole time (early wake-ups resume).
void sleep_ms(uint32_t ms);
// Milliseconds of a monotonic clock.
int64_t monotonic_ms();
// Wall-clock time, whole milliseconds; the first call initialises the time zone.
void wall_time_ms(int64_t* seconds, int32_t* milliseconds);
// Local time of `t` (seconds since the epoch); false when out of range.
bool local_time(int64_t t, std::tm* out);
// High-resolution counter and its ticks per second (0 when there is none).
int64_t perf_counter();
int64_t perf_frequency();

// ---- errors

// The system's message for an OS error number; false when it has none.
bool system_error_text(int os_error, char* buf, std::size_t size);

}  // namespace plat
