#include "app/mapconv.h"

#include <string>

#include "common/errors.h"
#include "common/util.h"
#include "data/binary_file.h"
#include "data/data_set.h"
#include "data/point_list.h"
#include "platform/platform.h"

namespace mapconv {
namespace {

void usage(std::FILE* err) {
  std::fputs("\nUsage:  mapconv [options] input output\n", err);
  std::fputs("\tinput  = existing Trel binary data file\n", err);
  std::fputs("\toutput = Trel ascii data file to create\n", err);
  std::fputs("\n\tOptions:\n", err);
  std::fputs("\t\t-f\twrites output even if file already exists\n", err);
}

struct Args {
  const char* input = nullptr;
  const char* output = nullptr;
  bool force = false;
};

// Options and operands in any order; only the character after '-' counts.
bool parse(int argc, const char* const* argv, Args& a) {
  if (argc < 3) return false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      if (arg[1] != 'f') return false;
      a.force = true;
    } else if (a.input == nullptr) {
      a.input = arg;
    } else if (a.output == nullptr) {
      a.output = arg;
    } else {
      return false;
    }
  }
  return a.input != nullptr && a.output != nullptr;
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* err) {
  Args a;
  if (!parse(argc, argv, a)) {
    usage(err);
    return kUsage;
  }
  const std::string in = plat::display_path(a.input);
  const std::string out = plat::display_path(a.output);
  const auto unable = [&] {
    std::fprintf(err, "Unable to convert \"%s\" to \"%s\" because...\n", in.c_str(), out.c_str());
  };

  if (!u_file_exists(a.input)) {
    unable();
    std::fprintf(err, "\t\"%s\" does not exist\n", in.c_str());
    return kNoInput;
  }
  if (u_file_exists(a.output) && !a.force) {
    unable();
    std::fprintf(err, "\t\"%s\" already exists\n", out.c_str());
    return kOutputExists;
  }
  std::fprintf(err, "Converting \"%s\" to \"%s\"\n", in.c_str(), out.c_str());

  felbrin::DataSet d;
  int rc = df_read_file(a.input, &d.source, &d.header, &d.intensity, &d.phase);
  if (rc != 0) {
    unable();
    std::fprintf(err, "\tthere was an error reading the file \"%s\"\n", in.c_str());
    std::fprintf(err, "\t%s\n", err_table[rc]);
    return kReadFailed;
  }
  rc = df_write_point_list(a.output, &d.phase);
  if (rc != 0) {
    unable();
    std::fprintf(err, "\tthere was an error writing to the file \"%s\"\n", out.c_str());
    std::fprintf(err, "\t%s\n", err_table[rc]);
    return kWriteFailed;
  }
  std::fprintf(err, "Conversion from \"%s\" to \"%s\" successful\n", in.c_str(), out.c_str());
  return kDone;
}

namespace {

bool is_option(std::string_view arg) { return !arg.empty() && arg[0] == '-'; }

// Marker unit, the path's units and a zero unit, as raw bytes.
std::string marked_path(std::u16string_view units) {
  std::u16string marked(1, char16_t{0xFFFE});
  marked += units;
  marked.push_back(0);
  return std::string(reinterpret_cast<const char*>(marked.data()),
                     marked.size() * sizeof(char16_t));
}

}  // namespace

void Arguments::add(std::string bytes) {
  storage_.push_back(std::move(bytes));
  pointers_.clear();
  for (const std::string& s : storage_) pointers_.push_back(s.c_str());
}

Arguments Arguments::from_utf16(std::span<const std::u16string_view> args) {
  Arguments a;
  for (std::u16string_view units : args) {
    bool ascii = true;
    for (char16_t u : units) ascii = ascii && u < 0x80;
    const bool option = !units.empty() && units[0] == u'-';
    if (ascii || option) {
      a.add(plat::to_utf8(units));
    } else {
      a.add(marked_path(units));
    }
  }
  return a;
}

Arguments Arguments::from_narrow(std::span<const char* const> args) {
  Arguments a;
  for (const char* arg : args) {
    if (plat::is_wide_marked(arg) && !is_option(arg)) {
      a.add(marked_path(plat::to_utf16(arg)));
    } else {
      a.add(arg);
    }
  }
  return a;
}

}  // namespace mapconv
