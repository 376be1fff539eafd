// Writing a slot back as a calibration file. The text goes to a new
// temporary file first; the destination is replaced only when the whole
// record was written and the file closed without a fault.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/temp_file.h"
#include "common/util.h"
#include "instrument/calibration/cal_file.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/calibration/cal_report.h"
#include "platform/platform.h"

namespace felbrin {
namespace {

// What the writer's error reporter knows about the write in progress.
struct WriteContext {
  int error_count = 0;
  std::string destination;
};

WriteContext& write_context() {
  static WriteContext context;
  return context;
}

}  // namespace

std::string cal_write_text(const sysInfo_t& info, int* result) {
  cal::Writer w{info, {}, 0};
  cal::write_lines(w);
  if (result != nullptr) *result = w.result;
  return std::move(w.out);
}

}  // namespace felbrin

int sb_calWriteError(const char* format, ...) {
  felbrin::WriteContext& context = felbrin::write_context();
  ++context.error_count;
  std::string heading;
  if (context.error_count == 1) {
    heading = "Error writing system calibration file";
    heading += context.destination.empty() ? ":\n" : " \"" + context.destination + "\":\n";
  }
  va_list args;
  va_start(args, format);
  const int n = felbrin::cal_print_report(heading, format, args);
  va_end(args);
  return n;
}

int sb_writeCal(int slot, const char* path) {
  using namespace felbrin;
  WriteContext& context = write_context();
  context = WriteContext{};
  if (slot < 0 || slot >= SB_SLOTS) return ERR_PARAM_OUT_OF_RANGE;
  sysInfo_t& info = sysInfo[slot];

  std::string destination;
  if (path != nullptr && *path != '\0') {
    destination = path;
  } else {
    // The configuration directory is where the reader looks after the
    // working directory.
    const char* config = u_config_dir();
    destination =
        u_path_join(config != nullptr ? config : ".", u_host_file_name(info.fileSelector));
  }
  context.destination = plat::display_path(destination.c_str());

  if (info.fd > 0) {
    plat::close_descriptor(info.fd);
    info.fd = 0;
  }

  std::string temp;
  int os_error = 0;
  std::FILE* file = make_temp_file("_calfile", temp, &os_error);
  if (file == nullptr) {
    sb_calWriteError("Cannot create temp file.");
    return ERR_CANT_CREATE_FILE;
  }

  int result = 0;
  const std::string text = cal_write_text(info, &result);

  // Every byte and the close are checked: a short file must never replace
  // a good one.
  int write_error = 0;
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::ferror(file) != 0) {
    write_error = errno != 0 ? errno : EIO;
  }
  if (std::fclose(file) != 0 && write_error == 0) write_error = errno != 0 ? errno : EIO;

  const std::string shown_temp = plat::display_path(temp.c_str());
  if (write_error != 0) {
    sb_calWriteError("Cannot write temp file \"%s\": %s", shown_temp.c_str(),
                     std::strerror(write_error));
    result = ERR_CANT_WRITE_FILE;
  } else if (result == 0) {
    const int rc = copy_temp_file(temp.c_str(), destination.c_str());
    if (rc != 0) {
      sb_calWriteError("Cannot copy temp file \"%s\" to \"%s\"", shown_temp.c_str(),
                       context.destination.c_str());
      result = rc;
    }
  }
  plat::remove_file(temp.c_str());
  return result;
}
