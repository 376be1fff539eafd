// Fuzzes the LCDMI configuration reader. A read that succeeds must leave a
// record within the file's bounds that formats into any buffer without
// overrunning it; a failed read always explains itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/errors.h"
#include "fuzz/fuzz_support.h"
#include "instrument/calibration/lcdmi.h"
#include "platform/platform.h"

namespace {

bool within_bounds(const lcdmi_config_t& c) {
  if (c.primChan < 0 || c.primChan > LCDMI_CHANNELS || (c.avgInputs != 0 && c.avgInputs != 1)) return false;
  for (int i = 0; i < LCDMI_CHANNELS; ++i) {
    const lcdmi_channel_t& ch = c.chan[i];
    if (ch.id != 0 && ch.id != i + 1) return false;
    if (std::memchr(ch.label, '\0', sizeof ch.label) == nullptr) return false;
    if (!(ch.scaleFactor >= -99 && ch.scaleFactor <= 99)) return false;
    if (ch.resolution < 0 || ch.resolution > 3 || ch.filterCutoff < 0 || ch.filterCutoff > 7) return false;
  }
  // A later line may disable the primary channel; it stays primary.
  return c.primChan == 0 || c.chan[c.primChan - 1].id == c.primChan;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::FILE* f = plat::open_memory(data, size);
  if (f == nullptr) return 0;
  lcdmi_config_t config;
  std::string message;
  const int rc = felbrin::lcdmi_read_config_stream(f, "fuzz", &config, &message);
  std::fclose(f);
  if (rc != 0) {
    if (rc != ERR_LCDMI_CONFIG || message.rfind("Error reading LCDMI configuration file \"fuzz\"\r\n", 0) != 0)
      std::abort();
    return 0;
  }
  if (!message.empty() || !within_bounds(config)) std::abort();
  // Every capacity gives a terminated text that is a prefix of the whole.
  static char whole[2000];
  if (lcdmi_format_config(&config, whole, sizeof whole) == nullptr) std::abort();
  const std::size_t length = std::strlen(whole);
  const std::size_t capacity = size % (length + 2) + 1;
  std::string buffer(capacity + 1, '#');
  lcdmi_format_config(&config, buffer.data(), capacity);
  if (buffer[capacity] != '#') std::abort();
  const std::size_t cut = std::strlen(buffer.c_str());
  if (cut >= capacity || std::memcmp(buffer.data(), whole, cut) != 0) std::abort();
  return 0;
}
