// Big-endian loads and in-place conversion of value arrays.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

constexpr uint16_t byte_swapped(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr uint32_t byte_swapped(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

template <class T>
T load_big_endian(const unsigned char* p) {
  using U = std::make_unsigned_t<T>;
  U v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = byte_swapped(v);
  return static_cast<T>(v);
}

// Converts an array read from a big-endian file to host order, in place.
// Written as a plain loop so the compiler vectorises it.
template <class T>
void from_big_endian(std::span<T> values) {
  if constexpr (std::endian::native == std::endian::little) {
    using U = std::make_unsigned_t<T>;
    for (T& v : values) v = static_cast<T>(byte_swapped(static_cast<U>(v)));
  }
}
