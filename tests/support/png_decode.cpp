#include "support/png_decode.h"

#include <cstdio>
#include <memory>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wuseless-cast"
#pragma GCC diagnostic ignored "-Wdouble-promotion"
#pragma GCC diagnostic ignored "-Wcast-qual"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wduplicated-branches"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace felbrin::test {

bool decode_png(const std::string& path, DecodedPng& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  int w = 0, h = 0, n = 0;
  const bool sixteen = stbi_is_16_bit_from_file(f) != 0;
  std::fseek(f, 0, SEEK_SET);
  bool ok = false;
  if (sixteen) {
    std::unique_ptr<stbi_us, void (*)(void*)> p(stbi_load_from_file_16(f, &w, &h, &n, 0),
                                                stbi_image_free);
    if (p) {
      out.samples.assign(p.get(), p.get() + static_cast<std::size_t>(w) * h * n);
      ok = true;
    }
  } else {
    std::unique_ptr<stbi_uc, void (*)(void*)> p(stbi_load_from_file(f, &w, &h, &n, 0),
                                                stbi_image_free);
    if (p) {
      out.samples.assign(p.get(), p.get() + static_cast<std::size_t>(w) * h * n);
      ok = true;
    }
  }
  std::fclose(f);
  out.width = w, out.height = h, out.channels = n;
  return ok;
}

}  // namespace felbrin::test
