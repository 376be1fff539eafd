/// @file
/// Size-limited logs: text appended to a file that is cut back to its newest
/// lines when it grows past a limit.
#pragma once

#include <cstdint>

/// Appends `text` (null: nothing) to the file at `path`. Each "\n" of the text
/// becomes the platform's line end, as a text-mode write would make it.
///
/// When `limit` is above 0, the file already holds at least `limit` bytes and
/// 0 < keep < its size, the oldest whole lines are dropped first so that at
/// most `keep` bytes of it remain; the rest and the text go to a new
/// temporary file, which is then copied over the log. A log that cannot be
/// opened is deleted and started anew.
///
/// Errors (each also logged): ERR_FILE_IO when the file cannot be opened or
/// created, read or written; ERR_CANT_CREATE_FILE when no temporary file can
/// be made; the copy's code when the temporary file cannot replace the log,
/// which then stays for the user to recover; ERR_INVALID_PARAM without a path.
int u_log_to_file(const char* path, const char* text, int64_t limit, int64_t keep);
