// A small library exporting DllGetVersion, built in three variants to
// exercise every answer u_module_version has to understand:
// 1 a packed 64-bit version, 2 only major, minor and build, 3 a failure.
#include <cstdint>

namespace {

constexpr int kMode = FELBRIN_TESTDLL_MODE;

// The 32-byte version record of DllGetVersion.
struct VersionInfo2 {
  std::uint32_t cbSize;
  std::uint32_t dwMajorVersion;
  std::uint32_t dwMinorVersion;
  std::uint32_t dwBuildNumber;
  std::uint32_t dwPlatformID;
  std::uint32_t dwFlags;
  std::uint64_t ullVersion;
};
static_assert(sizeof(VersionInfo2) == 32);

constexpr long kOk = 0;
constexpr long kInvalidArg = -2147024809;  // E_INVALIDARG

}  // namespace

extern "C" __attribute__((dllexport)) long DllGetVersion(VersionInfo2* info) {
  if (kMode == 3 || info == nullptr || info->cbSize != sizeof(VersionInfo2)) return kInvalidArg;
  info->dwMajorVersion = 5;
  info->dwMinorVersion = 6;
  info->dwBuildNumber = 7;
  info->ullVersion = kMode == 1 ? (std::uint64_t{5} << 48 | std::uint64_t{6} << 32 |
                                   std::uint64_t{7} << 16 | std::uint64_t{8})
                                : 0;
  return kOk;
}
