#include "common/errors.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/hooks.h"
#include "platform/platform.h"

const char* err_name(int code) {
  // Longest name is well under 64 characters; "invalid error number -2147483648" fits too.
  thread_local char text[64];
  if (code == 0) {
    std::snprintf(text, sizeof text, "NO_ERROR");
  } else if (code > 0 && code < ERR_TABLE_SIZE) {
    std::snprintf(text, sizeof text, "%s", err_table[code]);
  } else {
    std::snprintf(text, sizeof text, "invalid error number %d", code);
  }
  return text;
}

const char* err_name_of(int code) { return err_name(code); }

void err_log(int code) {
  if (code != 0) u_log_fn("%s\n", err_name(code));
}

void err_log_exit(int code) {
  if (code == 0) return;
  err_log(code);
  std::exit(1);
}

void u_system_error_text(int os_error, char* buf) {
  if (!plat::system_error_text(os_error, buf, U_SYSTEM_ERROR_TEXT_SIZE)) {
    std::snprintf(buf, U_SYSTEM_ERROR_TEXT_SIZE, "System error code 0x%8.8X",
                  static_cast<unsigned>(os_error));
    return;
  }
  buf[std::strcspn(buf, "\r\n")] = '\0';
}

void u_log_system_error(int os_error) {
  char text[U_SYSTEM_ERROR_TEXT_SIZE];
  u_system_error_text(os_error, text);
  u_log_fn("%s\n", text);
}
