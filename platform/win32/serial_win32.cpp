// Win32 serial back end: each operation is the one system call of its name.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/serial_backend.h"

namespace plat {
namespace {

static_assert(sizeof(DCB) == sizeof(sio_dcb_t));
static_assert(offsetof(DCB, XonLim) == offsetof(sio_dcb_t, XonLim));
static_assert(offsetof(DCB, wReserved1) == offsetof(sio_dcb_t, wReserved1));
static_assert(sizeof(COMMTIMEOUTS) == sizeof(sio_timeouts_t));

// "COM12" needs the device namespace prefix to be found; a name that has
// one already is kept.
std::wstring device_path(const char* name) {
  std::string narrow = name;
  if (narrow.rfind("\\\\.\\", 0) != 0) narrow = "\\\\.\\" + narrow;
  const int n = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<std::size_t>(n - 1));
  return wide;
}

class Win32Line final : public SerialLine {
 public:
  explicit Win32Line(HANDLE h) : h_(h) {}
  ~Win32Line() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  bool close() override {
    if (CloseHandle(h_) == 0) return false;
    h_ = INVALID_HANDLE_VALUE;
    return true;
  }
  bool set_event_mask(uint32_t mask) override { return SetCommMask(h_, mask) != 0; }
  bool setup_queues(uint32_t in_size, uint32_t out_size) override {
    return SetupComm(h_, in_size, out_size) != 0;
  }
  bool get_state(sio_dcb_t& state) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(h_, &dcb) == 0) return false;
    std::memcpy(&state, &dcb, sizeof dcb);
    return true;
  }
  bool set_state(const sio_dcb_t& state) override {
    DCB dcb{};
    std::memcpy(&dcb, &state, sizeof dcb);
    return SetCommState(h_, &dcb) != 0;
  }
  bool get_timeouts(sio_timeouts_t& timeouts) override {
    COMMTIMEOUTS t{};
    if (GetCommTimeouts(h_, &t) == 0) return false;
    timeouts = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return true;
  }
  bool set_timeouts(const sio_timeouts_t& timeouts) override {
    COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                   timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                   timeouts.WriteTotalTimeoutConstant};
    return SetCommTimeouts(h_, &t) != 0;
  }
  bool escape(uint32_t function) override { return EscapeCommFunction(h_, function) != 0; }
  bool purge(uint32_t flags) override { return PurgeComm(h_, flags) != 0; }
  bool clear_error(sio_status_t& status) override {
    DWORD errors = 0;
    COMSTAT stat{};
    if (ClearCommError(h_, &errors, &stat) == 0) {
      status = {};
      return false;
    }
    status = {errors, stat.cbInQue, stat.cbOutQue};
    return true;
  }
  bool read(std::span<uint8_t> buffer, std::size_t& count) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(h_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr);
    count = got;
    return ok != 0;
  }
  bool write(std::span<const uint8_t> buffer, std::size_t& count) override {
    DWORD put = 0;
    const BOOL ok = WriteFile(h_, buffer.data(), static_cast<DWORD>(buffer.size()), &put, nullptr);
    count = put;
    return ok != 0;
  }

 private:
  HANDLE h_;
};

class Win32Serial final : public SerialBackend {
 public:
  std::unique_ptr<SerialLine> open(const char* name) override {
    const std::wstring path = device_path(name);
    if (path.empty()) return nullptr;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32Line>(h);
  }
};

}  // namespace

SerialBackend& native_serial_backend() {
  static Win32Serial backend;
  return backend;
}

}  // namespace plat
