// The camera bad-pixel table and its file.
#include "instrument/acquisition/cam_bad.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/dirs.h"
#include "common/errors.h"
#include "common/hooks.h"
#include "common/parsers.h"
#include "common/text_line.h"
#include "instrument/acquisition/cam_bad_internal.h"
#include "instrument/calibration/cal_grammar.h"
#include "instrument/record/sys_info.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kLineMax = 100;  // characters before the line end
constexpr const char* kDelimiters = " \t\r\n";

// The next line: the one pushed back, else a new one, which is counted.
bool next_line(cam_bad_file_t& file, felbrin::TextLine& line, int& counter) {
  if (file.hasPushed) {
    file.hasPushed = false;
    line.text = std::move(file.pushed);
    line.length = file.pushedLength;
    return true;
  }
  if (!felbrin::read_text_line(file.stream, kLineMax + 1, line)) return false;
  ++counter;
  return true;
}

// How a section's read went wrong: the local message and whether the line
// can be shown.
struct SectionError {
  std::string text;
  bool echo = true;
};

class SectionReader {
 public:
  SectionReader(cam_bad_file_t& file, cam_bad_entry_t& entry, int& counter)
      : file_(file), entry_(entry), counter_(counter) {}

  // 0 with *end; ERR_CB_FILE_INVALID with error_; ERR_NO_MEM.
  int run(int& end) {
    int32_t points = 0;
    bool header = false;
    felbrin::TextLine line;
    while (next_line(file_, line, counter_)) {
      text_ = line.text;
      if (line.length > kLineMax)
        return fail("Line longer than " + std::to_string(kLineMax) + " characters\r\n", false);
      std::string work = line.text;
      const char* first = u_strtok(work.data(), kDelimiters);
      if (first == nullptr || first[0] == '#') continue;
      end = 0;
      if (first[0] == '[') {
        if (header) {
          file_.pushed = std::move(line.text);
          file_.pushedLength = line.length;
          file_.hasPushed = true;
          break;
        }
        if (!read_header()) return ERR_CB_FILE_INVALID;
        header = true;
        continue;
      }
      if (!header) return fail("Missing camera information.\r\n");
      if (points == CAM_BAD_MAX_POINTS) {
        return fail("Too many bad pixels in section (maximum " +
                    std::to_string(CAM_BAD_MAX_POINTS) + ").\r\n");
      }
      mx_xyv_list_t& list = entry_.badPixels;
      if (list.size < CAM_BAD_MAX_POINTS && mx_list_resize(&list, CAM_BAD_MAX_POINTS, true) != 0) {
        mx_list_release(&list);
        return ERR_NO_MEM;
      }
      // The point's x is the line's first token: tokenize it afresh.
      work = line.text;
      int x = 0, y = 0;
      if (!parse_int("coord x", 0, entry_.sizeX - 1, x, work.data()) ||
          !parse_int("coord y", 0, entry_.sizeY - 1, y))
        return ERR_CB_FILE_INVALID;
      list.data[points++] = mx_xyv_t{x, y, 0.0f};
    }
    entry_.badPixels.count = points;
    return 0;
  }

  const SectionError& error() const { return error_; }
  const std::string& line_text() const { return text_; }

 private:
  bool parse_int(const char* what, int lo, int hi, int& out, char* text = nullptr) {
    char message[U_PARSE_MESSAGE_SIZE] = "";
    if (u_parse_int_token(text, kDelimiters, what, lo, hi, message, &out)) return true;
    fail(message);
    return false;
  }

  bool read_header() {
    int mode = 0, under = 0, sx = 0, sy = 0;
    double rate = 0;
    char message[U_PARSE_MESSAGE_SIZE] = "";
    if (!parse_int("grab mode", 0, 10, mode) || !parse_int("grab under", 0, 10, under) ||
        !parse_int("size x", 0, 32767, sx) || !parse_int("size y", 0, 32767, sy))
      return false;
    if (!u_parse_double_token(nullptr, kDelimiters, "grab rate", 0, 500, message, &rate)) {
      fail(message);
      return false;
    }
    entry_.grabMode = mode;
    entry_.grabUnder = under;
    entry_.sizeX = static_cast<int16_t>(sx);
    entry_.sizeY = static_cast<int16_t>(sy);
    entry_.grabRate = rate;
    return true;
  }

  int fail(std::string text, bool echo = true) {
    mx_list_release(&entry_.badPixels);
    error_ = {std::move(text), echo};
    return ERR_CB_FILE_INVALID;
  }

  cam_bad_file_t& file_;
  cam_bad_entry_t& entry_;
  int& counter_;
  std::string text_;
  SectionError error_;
};

void release_lists(cam_bad_entry_t* table, int count) {
  for (int i = 0; i < count; ++i) mx_list_release(&table[i].badPixels);
}

std::string line_note(int line, const std::string& text, bool echo) {
  std::string out = "Error in line " + std::to_string(line);
  out += echo ? ":\r\n  " + text + "\n" : "\r\n";
  return out;
}

}  // namespace

void CamBadTableDelete::operator()(cam_bad_entry_t* table) const {
  if (table == nullptr) return;
  // Entries past the count are zero, so their lists are empty.
  release_lists(table, CAM_BAD_MAX_CAMERAS);
  u_free_fn(table);
}

int cam_bad_section_read(cam_bad_file_t* file, cam_bad_entry_t* entry, int* line, int* end,
                         std::string* message) {
  if (message != nullptr) message->clear();
  int scratch_end = 1;
  int& ended = end != nullptr ? *end : scratch_end;
  ended = 1;
  if (entry != nullptr) std::memset(static_cast<void*>(entry), 0, sizeof *entry);
  if (file == nullptr || file->stream == nullptr || entry == nullptr) {
    if (message != nullptr) *message = "Invalid camera bad file handle. \n";
    return ERR_INVALID_PARAM;
  }
  int scratch_line = 0;
  int& counter = line != nullptr ? *line : scratch_line;
  SectionReader reader(*file, *entry, counter);
  const int rc = reader.run(ended);
  if (rc == ERR_CB_FILE_INVALID && message != nullptr) {
    *message += reader.error().text;
    if (counter > 0) *message += line_note(counter, reader.line_text(), reader.error().echo);
  }
  return rc;
}

namespace felbrin {

int cam_bad_read_stream(std::FILE* f, const char* name, cam_bad_entry_t* table, int* count,
                        std::string* message) {
  int scratch = 0;
  int& n = count != nullptr ? *count : scratch;
  n = 0;
  if (message != nullptr) message->clear();
  if (f == nullptr || table == nullptr) return ERR_INVALID_PARAM;
  cam_bad_file_t file;
  file.stream = f;
  int line = 0;
  int rc = 0;
  std::string section_message;
  for (;;) {
    if (n == CAM_BAD_MAX_CAMERAS) {
      // A header read ahead is a section beyond the table's room.
      if (file.hasPushed) {
        section_message = "Too many camera sections (maximum " +
                          std::to_string(CAM_BAD_MAX_CAMERAS) + ").\r\n" +
                          line_note(line, file.pushed, true);
        rc = ERR_CB_FILE_INVALID;
      }
      break;
    }
    int end = 1;
    rc = cam_bad_section_read(&file, &table[n], &line, &end, &section_message);
    if (rc != 0 || end != 0) break;
    ++n;
  }
  if (rc != 0) {
    release_lists(table, n + (n < CAM_BAD_MAX_CAMERAS ? 1 : 0));
    n = 0;
    if (message != nullptr && rc == ERR_CB_FILE_INVALID)
      *message = "Error reading bad pixel file \"" + std::string(name != nullptr ? name : "") +
                 "\"\r\n" + section_message;
  }
  return rc;
}

}  // namespace felbrin

int cam_bad_file_read(const char* path, cam_bad_entry_t* table, int* count, std::string* message) {
  if (count != nullptr) *count = 0;
  if (message != nullptr) message->clear();
  if (path == nullptr || *path == '\0' || table == nullptr) return ERR_INVALID_PARAM;
  const std::string shown = plat::display_path(path);
  std::FILE* f = plat::open_file(path, "rb");
  if (f == nullptr) {
    if (message != nullptr) *message = "Cannot open camera bad file \"" + shown + "\"\r\n";
    return ERR_CANT_OPEN_FILE;
  }
  const int rc = felbrin::cam_bad_read_stream(f, shown.c_str(), table, count, message);
  std::fclose(f);
  return rc;
}

int cam_bad_sort(cam_bad_entry_t* table, int count) {
  if (count > 0 && table == nullptr) return ERR_INVALID_PARAM;
  const auto before = [](const mx_xyv_t& a, const mx_xyv_t& b) {
    return a.x != b.x ? a.x < b.x : a.y < b.y;
  };
  const auto same = [](const mx_xyv_t& a, const mx_xyv_t& b) { return a.x == b.x && a.y == b.y; };
  for (int i = 0; i < count; ++i) {
    mx_xyv_list_t& list = table[i].badPixels;
    if (list.count <= 0 || list.data == nullptr) continue;
    mx_xyv_t* const first = list.data;
    mx_xyv_t* const last = first + list.count;
    std::stable_sort(first, last, before);
    list.count = static_cast<int32_t>(std::unique(first, last, same) - first);
  }
  return 0;
}

void cam_bad_release(sysInfo_t* s) {
  if (s == nullptr) return;
  s->acq.camBad.reset();
  s->acq.camBadCount = 0;
}

namespace {

cam_bad_table_ptr new_table() {
  return cam_bad_table_ptr(
      static_cast<cam_bad_entry_t*>(u_calloc_fn(CAM_BAD_MAX_CAMERAS, sizeof(cam_bad_entry_t))));
}

int16_t frame_size(int32_t size, int32_t under) {
  const int32_t v = size / (under > 0 ? under : 1);
  return static_cast<int16_t>(std::clamp<int32_t>(v, 0, 32767));
}

int build_from_file(sysInfo_t* s, cam_bad_table_ptr table) {
  const std::string name = !s->badPixelFile.empty()
                               ? s->badPixelFile
                               : "bpix_" + std::to_string(s->serialNumber) + ".dat";
  const char* config = u_config_dir();
  if (config == nullptr) {
    u_log_fn("gen_cam_ped_filename: invalid config directory.\n");
    return ERR_INVALID_PARAM;
  }
  const std::string path = u_path_join(config, name);
  int count = 0;
  std::string message;
  int rc = cam_bad_file_read(path.c_str(), table.get(), &count, &message);
  if (rc != 0) {
    u_log_fn("%s", message.c_str());
    return rc;
  }
  if ((rc = cam_bad_sort(table.get(), count)) != 0) return rc;
  s->acq.camBad = std::move(table);
  s->acq.camBadCount = count;
  return 0;
}

int build_from_inline(sysInfo_t* s, cam_bad_table_ptr table) {
  const int n = felbrin::cal::bad_pixel_count(*s);
  if (n == 0) return 0;
  cam_bad_entry_t& entry = table.get()[0];
  const sb_acq_state_t& acq = s->acq;
  entry.grabMode = acq.grabMode;
  entry.grabUnder = acq.grabUnder;
  entry.sizeX = frame_size(acq.cameraWidth, acq.grabUnder);
  entry.sizeY = frame_size(acq.cameraHeight, acq.grabUnder);
  entry.grabRate = acq.grabRate;
  if (mx_list_resize(&entry.badPixels, n, false) != 0) return ERR_NO_MEM;
  for (int i = 0; i < n; ++i)
    entry.badPixels.data[i] = mx_xyv_t{s->badPixels[i].x, s->badPixels[i].y, 0.0f};
  if (const int rc = cam_bad_sort(table.get(), 1)) return rc;
  s->acq.camBad = std::move(table);
  s->acq.camBadCount = 1;
  // The calibration's Camera Bpix stays as the file gave it: the next build
  // takes the same branch.
  s->acq.badTableFromInline = true;
  return 0;
}

}  // namespace

int gen_cam_ped_filename(sysInfo_t* s) {
  if (s == nullptr) return ERR_INVALID_PARAM;
  cam_bad_table_ptr table = new_table();
  cam_bad_release(s);
  s->acq.badTableFromInline = false;
  if (!table) return ERR_NO_MEM;
  return s->badPixelMode != 0 ? build_from_file(s, std::move(table))
                              : build_from_inline(s, std::move(table));
}
