#include "instrument/serial/serial_port.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/errors.h"
#include "common/hooks.h"
#include "common/util.h"

namespace {

std::atomic<plat::SerialBackend*> g_backend{nullptr};

// The handle is the address of the line object its back end made at open.
plat::SerialLine* line_of(sio_handle_t handle) {
  if (handle == SIO_INVALID_HANDLE || handle == 0) return nullptr;
  return reinterpret_cast<plat::SerialLine*>(handle);
}

const char* shown(const char* text) { return text != nullptr ? text : "(null)"; }

void log_invalid(const char* settings) {
  u_log_fn("Com Settings Parameter: %s is Invalid.\n", shown(settings));
}

bool is_mode_word(std::string_view text) {
  constexpr std::array<std::string_view, 6> kModes = {"r", "r+", "w", "w+", "a", "a+"};
  for (std::string_view m : kModes)
    if (text == m) return true;
  return false;
}

bool is_standard_baud(long baud) {
  constexpr std::array<long, 11> kRates = {150,  300,   600,   1200,  2400,  4800,
                                           9600, 19200, 38400, 57600, 115200};
  for (long r : kRates)
    if (baud == r) return true;
  return false;
}

// The field after the next comma, or null when there is none.
const char* next_field(const char* p) {
  const char* comma = std::strchr(p, ',');
  return comma != nullptr ? comma + 1 : nullptr;
}

// Parses "baud,data-bits,parity,stop-bits" into the state. 0 or the error;
// `silent` is set for the one failure that is not logged (a parity field that
// is no number).
int parse_settings(const char* text, sio_dcb_t& state, bool& silent) {
  silent = false;
  const long baud = std::strtol(text, nullptr, 10);
  if (!is_standard_baud(baud)) return ERR_INVALID_PARAM;
  const char* p = next_field(text);
  if (p == nullptr) return ERR_INVALID_PARAM;
  const long data_bits = std::strtol(p, nullptr, 10);
  if (data_bits < 5 || data_bits > 8) return ERR_INVALID_PARAM;
  p = next_field(p);
  if (p == nullptr) return ERR_INVALID_PARAM;
  if (*p < '0' || *p > '9') {
    silent = true;
    return ERR_PARAM_OUT_OF_RANGE;
  }
  const long parity = std::strtol(p, nullptr, 10);
  if (parity < 0 || parity > 2) return ERR_INVALID_PARAM;
  p = next_field(p);
  if (p == nullptr) return ERR_INVALID_PARAM;
  const float stop = static_cast<float>(std::strtod(p, nullptr));
  uint8_t stop_bits = 0;
  if (stop == 1.0f)
    stop_bits = SIO_ONESTOPBIT;
  else if (stop == 1.5f)
    stop_bits = SIO_ONE5STOPBITS;
  else if (stop == 2.0f)
    stop_bits = SIO_TWOSTOPBITS;
  else
    return ERR_PARAM_OUT_OF_RANGE;

  state.BaudRate = static_cast<uint32_t>(baud);
  state.ByteSize = static_cast<uint8_t>(data_bits);
  state.Parity = static_cast<uint8_t>(parity);
  state.fParity = parity > 0 ? 1u : 0u;
  state.StopBits = stop_bits;
  return 0;
}

void set_xonxoff(sio_dcb_t& state, bool on) {
  state.fOutX = on ? 1u : 0u;
  state.fInX = on ? 1u : 0u;
  state.XonChar = 0x11;
  state.XoffChar = 0x13;
  state.XonLim = 100;
  state.XoffLim = 3996;
}

// Reads the state, lets `change` modify it, writes it back: 118 / 124.
template <class Change>
int modify_state(sio_handle_t handle, Change change) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  sio_dcb_t state{};
  if (sio_get_state(handle, &state) != 0) return ERR_CANT_GET_SERIAL;
  change(state);
  return sio_set_state(handle, &state);
}

// Time the bytes need on the line: ten bit times each (start, eight, stop)
// is close enough for a deadline.
int64_t line_time_ms(uint32_t count, uint32_t baud) {
  if (baud == 0) baud = 9600;
  return (static_cast<int64_t>(count) * 10 * 1000 + baud - 1) / baud;
}

}  // namespace

plat::SerialBackend* sio_set_backend(plat::SerialBackend* backend) {
  plat::SerialBackend* old = g_backend.exchange(backend);
  return old != nullptr ? old : &plat::native_serial_backend();
}

int sio_open_with(plat::SerialBackend& backend, const char* device, sio_port_t* port) {
  if (port == nullptr) return ERR_INVALID_PARAM;
  port->handle = SIO_INVALID_HANDLE;
  if (device == nullptr) return ERR_CANT_OPEN_SERIAL;
  std::unique_ptr<plat::SerialLine> line = backend.open(device);
  if (!line) return ERR_CANT_OPEN_SERIAL;
  plat::SerialLine& l = *line;
  port->handle = reinterpret_cast<sio_handle_t>(line.release());
  if (!l.set_event_mask(SIO_EV_RXCHAR) || !l.setup_queues(SIO_QUEUE_SIZE, SIO_QUEUE_SIZE))
    return ERR_CANT_SET_SERIAL;
  return 0;
}

int sio_open(const char* device, sio_port_t* port) {
  plat::SerialBackend* backend = g_backend.load();
  return sio_open_with(backend != nullptr ? *backend : plat::native_serial_backend(), device, port);
}

int sio_open_configured(const char* device, const sio_line_settings_t& row, sio_port_t* port) {
  if (port == nullptr) return ERR_INVALID_PARAM;
  int err = sio_open(device, port);
  if (err == 0) err = sio_init(port->handle, nullptr, row.hardware_handshake ? 0 : 1);
  if (err == 0 && row.baud != 0) err = sio_set_baud_rate(port->handle, row.baud);
  if (err == 0 && row.parity >= 0) err = sio_set_parity(port->handle, row.parity);
  if (err == 0 && row.data_bits != 0) err = sio_set_data_bits(port->handle, row.data_bits);
  if (err == 0 && !row.hardware_handshake) err = sio_disable_xonxoff(port->handle);
  if (err != 0 && err != ERR_CANT_OPEN_SERIAL) (void)sio_close(port);
  return err;
}

int sio_init(sio_handle_t handle, const char* settings, uint8_t xonxoff) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;

  sio_dcb_t state{};
  int result = sio_get_state(handle, &state);
  if (result != 0) {
    result = ERR_CANT_GET_SERIAL;
  } else {
    if (settings == nullptr || is_mode_word(settings)) {
      if (settings != nullptr) u_log_fn("Com Settings Parameter: %s is ignored.\n", settings);
      state.BaudRate = 9600;
      state.ByteSize = 8;
      state.Parity = 0;
      state.StopBits = SIO_ONESTOPBIT;
      state.fParity = 0;
    } else {
      bool silent = false;
      result = parse_settings(settings, state, silent);
      if (silent) return result;
    }
    if (result == 0) {
      const bool soft = xonxoff != 0;
      set_xonxoff(state, soft);
      state.fDtrControl = SIO_DTR_CONTROL_ENABLE;
      state.fRtsControl = SIO_RTS_CONTROL_HANDSHAKE;
      state.fOutxCtsFlow = soft ? 0u : 1u;
      state.fAbortOnError = soft ? 0u : 1u;
      state.fBinary = 1;

      const sio_timeouts_t timeouts{100, 0, 2000, 0, 1000};
      line->set_timeouts(timeouts);  // its failure shows in the reads that follow
      result = sio_set_state(handle, &state);
      line->escape(SIO_SETDTR);
    }
  }
  if (result != 0) log_invalid(settings);
  return result;
}

int sio_init_xonxoff(sio_handle_t handle, const char* settings) {
  return sio_init(handle, settings, 1);
}

int sio_set_baud_rate(sio_handle_t handle, int baud) {
  return modify_state(handle, [baud](sio_dcb_t& s) { s.BaudRate = static_cast<uint32_t>(baud); });
}

int sio_set_parity(sio_handle_t handle, int parity) {
  return modify_state(handle, [parity](sio_dcb_t& s) {
    s.Parity = static_cast<uint8_t>(parity);
    s.fParity = parity != 0 ? 1u : 0u;
  });
}

int sio_set_data_bits(sio_handle_t handle, uint8_t data_bits) {
  return modify_state(handle, [data_bits](sio_dcb_t& s) { s.ByteSize = data_bits; });
}

int sio_enable_xonxoff(sio_handle_t handle) {
  return modify_state(handle, [](sio_dcb_t& s) { set_xonxoff(s, true); });
}

int sio_disable_xonxoff(sio_handle_t handle) {
  return modify_state(handle, [](sio_dcb_t& s) { set_xonxoff(s, false); });
}

int sio_get_timeouts(sio_handle_t handle, sio_timeouts_t* timeouts) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  if (timeouts == nullptr) return ERR_INVALID_PARAM;
  return line->get_timeouts(*timeouts) ? 0 : ERR_CANT_GET_SERIAL;
}

int sio_set_timeouts(sio_handle_t handle, const sio_timeouts_t* timeouts) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  if (timeouts == nullptr) return ERR_INVALID_PARAM;
  return line->set_timeouts(*timeouts) ? 0 : ERR_CANT_SET_SERIAL;
}

int sio_get_read_timeout_ms(sio_handle_t handle, uint32_t* milliseconds) {
  if (milliseconds != nullptr) *milliseconds = 0;
  sio_timeouts_t t{};
  const int result = sio_get_timeouts(handle, &t);
  if (result == 0 && milliseconds != nullptr) *milliseconds = t.ReadTotalTimeoutConstant;
  return result;
}

int sio_set_read_timeout_ms(sio_handle_t handle, uint32_t milliseconds) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  sio_timeouts_t t{};
  if (!line->get_timeouts(t)) return ERR_CANT_SET_SERIAL;
  t.ReadTotalTimeoutConstant = milliseconds;
  return line->set_timeouts(t) ? 0 : ERR_CANT_SET_SERIAL;
}

int sio_get_read_timeout(sio_handle_t handle, int* seconds) {
  if (seconds != nullptr) *seconds = 0;
  uint32_t ms = 0;
  const int result = sio_get_read_timeout_ms(handle, &ms);
  if (result == 0 && seconds != nullptr) *seconds = static_cast<int>(ms / 1000u);
  return result;
}

int sio_set_read_timeout(sio_handle_t handle, int seconds) {
  return sio_set_read_timeout_ms(handle, static_cast<uint32_t>(seconds) * 1000u);
}

int sio_get_state(sio_handle_t handle, sio_dcb_t* state) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  if (state == nullptr) return ERR_INVALID_PARAM;
  state->DCBlength = sizeof(sio_dcb_t);
  return line->get_state(*state) ? 0 : ERR_CANT_GET_SERIAL;
}

int sio_set_state(sio_handle_t handle, const sio_dcb_t* state) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  if (state == nullptr) return ERR_INVALID_PARAM;
  return line->set_state(*state) ? 0 : ERR_CANT_SET_SERIAL;
}

int sio_close(sio_port_t* port) {
  if (port == nullptr) return ERR_INVALID_PARAM;
  plat::SerialLine* line = line_of(port->handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;
  // Best effort on the way out: the close alone decides the result.
  line->set_event_mask(0);
  line->escape(SIO_CLRDTR);
  line->purge(SIO_PURGE_ALL);
  if (!line->close()) return ERR_CANT_CLOSE_SERIAL;
  std::unique_ptr<plat::SerialLine> owned(line);
  port->handle = SIO_INVALID_HANDLE;
  return 0;
}

int sio_send_data(sio_handle_t handle, const void* buffer, uint32_t count, uint32_t* written) {
  if (written != nullptr) *written = 0;
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr || (buffer == nullptr && count > 0)) return 1;
  std::size_t put = 0;
  const bool ok = line->write({static_cast<const uint8_t*>(buffer), count}, put);
  if (written != nullptr) *written = static_cast<uint32_t>(put);

  // Wait until the bytes have left the driver, but not for ever: a line held
  // by CTS or XOFF never drains.
  sio_timeouts_t t{};
  if (!line->get_timeouts(t)) t = {0, 0, 0, 0, 1000};
  sio_dcb_t state{};
  state.DCBlength = sizeof state;
  const uint32_t baud = line->get_state(state) ? state.BaudRate : 9600;
  int64_t allowance =
      static_cast<int64_t>(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant;
  if (allowance == 0) allowance = 1000;
  const int64_t deadline = u_ticks_ms() + allowance + line_time_ms(count, baud);
  bool drained = false;
  for (;;) {
    sio_status_t status{};
    if (!line->clear_error(status) || status.out_queue == 0 || status.errors != 0) {
      drained = true;
      break;
    }
    // A polling wait like every other: the host's abort hook can end it.
    if (u_ticks_ms() >= deadline || u_poll_pause(1) != 0) break;
  }
  return ok && drained && put == count ? 0 : 1;
}

int sio_read_data(sio_handle_t handle, void* buffer, uint32_t count, uint32_t* read) {
  if (read != nullptr) *read = 0;
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr || (buffer == nullptr && count > 0)) return 1;
  sio_status_t status{};
  line->clear_error(status);
  std::size_t got = 0;
  const bool ok = line->read({static_cast<uint8_t*>(buffer), count}, got);
  if (read != nullptr) *read = static_cast<uint32_t>(got);
  const bool queried = line->clear_error(status);
  return ok && queried && got == count ? 0 : 1;
}

int sio_bytes_waiting(sio_handle_t handle, uint32_t* count) {
  if (count != nullptr) *count = 0;
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return 1;
  sio_status_t status{};
  if (!line->clear_error(status)) return 1;
  if (count != nullptr) *count = status.in_queue;
  return 0;
}

int sio_line_status(sio_handle_t handle, uint32_t* errors, uint32_t* in_queue) {
  if (errors != nullptr) *errors = 0;
  if (in_queue != nullptr) *in_queue = 0;
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return 1;
  sio_status_t status{};
  if (!line->clear_error(status)) return 1;
  if (errors != nullptr) *errors = status.errors;
  if (in_queue != nullptr) *in_queue = status.in_queue;
  return 0;
}

int sio_clear_buffer(sio_handle_t handle) {
  plat::SerialLine* line = line_of(handle);
  if (line == nullptr) return ERR_SERIAL_NOT_OPEN;

  constexpr uint32_t kQuietMs = 100;
  // A line that never goes quiet (a streaming device, noise) is given up on.
  constexpr int64_t kGiveUpMs = 10000;
  constexpr uint32_t kGiveUpBytes = 64 * 1024;

  sio_timeouts_t t{};
  const bool have_timeouts = line->get_timeouts(t);
  const uint32_t saved = t.ReadTotalTimeoutConstant;
  if (have_timeouts) {
    t.ReadTotalTimeoutConstant = kQuietMs;
    line->set_timeouts(t);
  }

  const int64_t give_up = u_ticks_ms() + kGiveUpMs;
  uint32_t discarded = 0;
  bool purged = false;
  bool arrived = false;
  for (;;) {
    purged = line->purge(SIO_PURGE_ALL);
    arrived = false;
    if (!purged) break;
    uint8_t byte = 0;
    uint32_t got = 0;
    sio_read_data(handle, &byte, 1, &got);
    arrived = got > 0;
    if (!arrived) break;
    ++discarded;
    if (discarded >= kGiveUpBytes || u_ticks_ms() >= give_up) break;
  }

  if (have_timeouts) {
    t.ReadTotalTimeoutConstant = saved;
    line->set_timeouts(t);
  }
  return purged && !arrived ? 0 : 1;
}
