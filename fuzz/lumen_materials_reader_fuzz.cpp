// Fuzzes the Lumen materials reader. A read that succeeds must hand over a
// list that keeps its own rules (numbers in order, values in range or left
// out, the zero entry after the last), and the list written back as a file
// must read to the same entries; a read that fails must leave the list alone.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/errors.h"
#include "fuzz/fuzz_support.h"
#include "instrument/calibration/lumen_materials_internal.h"
#include "platform/platform.h"

namespace {

int read(const std::string& text, lumen_materials_t& list) {
  std::FILE* f = plat::open_memory(text.data(), text.size());
  if (f == nullptr) return -1;
  const int rc = felbrin::read_lumen_materials_stream(f, &list);
  std::fclose(f);
  return rc;
}

bool terminated(const char* text, std::size_t size) { return std::memchr(text, '\0', size) != nullptr; }

// The value columns in file order: N, K, PCOR, then the dispersions.
double value_of(const lumen_material_t& e, int i) {
  switch (i) {
    case 0: return e.n;
    case 1: return e.k;
    case 2: return e.pcor;
    default: return e.disper[i - 3];
  }
}

void check(const lumen_materials_t& list) {
  if (list.entries == nullptr || list.count <= 0 || list.count >= list.capacity) std::abort();
  const lumen_material_t& end = list.entries[list.count];
  if (end.number != 0 || end.name[0] != '\0' || end.comment[0] != '\0' || end.n != 0) std::abort();
  int next = 0;
  for (int i = 0; i < list.count; ++i) {
    const lumen_material_t& e = list.entries[i];
    if (!terminated(e.name, sizeof e.name) || !terminated(e.comment, sizeof e.comment)) std::abort();
    if (e.number == LUMEN_COMMENT_ENTRY) {
      if (e.comment[0] == '\0') std::abort();
      continue;
    }
    if (e.number != next++) std::abort();
    for (int v = 0; v < 7; ++v) {
      const double x = value_of(e, v);
      const double bound = v < 2 ? 100 : 6.283185307179586;
      if (x != LUMEN_NOT_GIVEN && !(v < 2 ? 0 <= x && x <= bound : -bound <= x && x <= bound)) std::abort();
    }
  }
  if (next == 0) std::abort();  // a list without a material is never handed over
}

// A comment cut inside the line may end in a CR, which a second read takes
// for part of the line end.
bool keeps_its_end(const char* text) {
  const std::size_t n = std::strlen(text);
  return n == 0 || text[n - 1] != '\r';
}

// A comment line keeps its first 100 characters, which may be only the
// blanks before its '#'; written back, that is a blank line.
bool keeps_its_mark(const char* text) { return std::strchr(text, '#') != nullptr; }

// The entries as a file: the heading, then each entry as a line; values in
// their shortest exact form, left-out values as '*'.
std::string written(const lumen_materials_t& list) {
  std::string text(felbrin::lumen_materials_heading());
  text += '\n';
  for (int i = 0; i < list.count; ++i) {
    const lumen_material_t& e = list.entries[i];
    if (e.number == LUMEN_COMMENT_ENTRY) {
      text += keeps_its_mark(e.comment) ? e.comment : "#";
      text += '\n';
      continue;
    }
    const char quote = std::strchr(e.name, '"') != nullptr ? '\'' : '"';
    std::string line = quote + std::string(e.name) + quote;
    for (int v = 0; v < 7; ++v) {
      char number[32];
      const double x = value_of(e, v);
      const auto r = std::to_chars(number, number + sizeof number, x);
      line += ' ';
      line += x == LUMEN_NOT_GIVEN ? std::string_view("*") : std::string_view(number, r.ptr);
    }
    if (e.comment[0] != '\0' && line.size() + 1 + std::strlen(e.comment) <= 200) line += ' ' + std::string(e.comment);
    text += line + '\n';
  }
  return text;
}

bool same(const lumen_material_t& a, const lumen_material_t& b) {
  if (a.number != b.number || std::strcmp(a.name, b.name) != 0) return false;
  for (int v = 0; v < 7; ++v) {
    const double x = value_of(a, v), y = value_of(b, v);
    if (std::memcmp(&x, &y, sizeof x) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  felbrin::fuzz::set_up_quietly();

  lumen_materials_t list;
  if (read(std::string(reinterpret_cast<const char*>(data), size), list) != 0) {
    if (list.entries != nullptr || list.count != 0) std::abort();  // a failed read hands nothing over
    return 0;
  }
  check(list);
  lumen_materials_t again;
  const int rc = read(written(list), again);
  if (rc == ERR_NO_MEM) return 0;
  if (rc != 0 || again.count != list.count) std::abort();
  for (int i = 0; i < list.count; ++i) {
    const lumen_material_t& a = list.entries[i];
    const lumen_material_t& b = again.entries[i];
    if (a.number == LUMEN_COMMENT_ENTRY) {
      if (b.number != a.number || (keeps_its_end(a.comment) && keeps_its_mark(a.comment) && std::strcmp(a.comment, b.comment) != 0)) std::abort();
    } else if (!same(a, b)) {
      std::abort();
    }
  }
  return 0;
}
