// POSIX serial back end: termios in raw mode, with the Windows timeout rules
// emulated by poll().
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/platform.h"
#include "platform/serial_backend.h"

namespace plat {
namespace {

struct BaudSpeed {
  uint32_t baud;
  speed_t speed;
};
constexpr BaudSpeed kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speed_of(uint32_t baud, speed_t& speed) {
  for (const BaudSpeed& s : kSpeeds)
    if (s.baud == baud) {
      speed = s.speed;
      return true;
    }
  return false;
}

uint32_t baud_of(speed_t speed) {
  for (const BaudSpeed& s : kSpeeds)
    if (s.speed == speed) return s.baud;
  return 9600;
}

// Milliseconds left until `end`, for poll(); -1 waits without limit.
int poll_wait(int64_t end) {
  if (end == LLONG_MAX) return -1;
  const int64_t left = end - monotonic_ms();
  return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

class PosixLine final : public SerialLine {
 public:
  PosixLine(int fd, const termios& tio) : fd_(fd) {
    // The state first reported is the device's; afterwards the state last
    // written, because a pty (and other drivers) do not keep every field.
    state_.DCBlength = sizeof state_;
    state_.BaudRate = baud_of(cfgetospeed(&tio));
    state_.fBinary = 1;
    state_.ByteSize = 8;
    state_.XonChar = 0x11;
    state_.XoffChar = 0x13;
    state_.XonLim = 2048;
    state_.XoffLim = 512;
  }
  ~PosixLine() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool close() override {
    if (fd_ < 0) return false;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || errno == EINTR;
  }
  bool set_event_mask(uint32_t mask) override {
    event_mask_ = mask;
    return true;
  }
  bool setup_queues(uint32_t, uint32_t) override { return true; }
  bool get_state(sio_dcb_t& state) override {
    state = state_;
    state.DCBlength = sizeof state;
    return true;
  }
  bool set_state(const sio_dcb_t& state) override {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    speed_t speed{};
    if (!speed_of(state.BaudRate, speed)) return false;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    switch (state.ByteSize) {
      case 5: tio.c_cflag |= CS5; break;
      case 6: tio.c_cflag |= CS6; break;
      case 7: tio.c_cflag |= CS7; break;
      case 8: tio.c_cflag |= CS8; break;
      default: return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (state.Parity) {
      case 0: break;
      case 1: tio.c_cflag |= PARENB | PARODD; break;
      case 2: tio.c_cflag |= PARENB; break;
      case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case 4: tio.c_cflag |= PARENB | CMSPAR; break;
      default: return false;
    }
    switch (state.StopBits) {
      case 0: tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB); break;
      case 1:  // one and a half exists only on Windows hardware: two is closest
      case 2: tio.c_cflag |= CSTOPB; break;
      default: return false;
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    if (state.fOutX != 0) tio.c_iflag |= IXON;
    if (state.fInX != 0) tio.c_iflag |= IXOFF;
    if (state.fParity != 0 && state.Parity != 0) tio.c_iflag |= INPCK;
    tio.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (state.fOutxCtsFlow != 0) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0 && !only_framing_refused(tio)) return false;
    state_ = state;
    state_.DCBlength = sizeof state_;
    return true;
  }
  // A pseudo-terminal keeps 8 data bits and no parity whatever it is asked,
  // and refuses (EINVAL) a request that would change nothing else, such as
  // 7 data bits alone. The line is then as asked in every other respect,
  // just as when the framing goes along with other changes and its refusal
  // goes unreported; any other difference is a real failure.
  bool only_framing_refused(const termios& asked) const {
    if (errno != EINVAL) return false;
    termios now{};
    if (::tcgetattr(fd_, &now) != 0) return false;
    constexpr auto framing = static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
    constexpr auto check = static_cast<tcflag_t>(INPCK);
    return (now.c_cflag & ~framing) == (asked.c_cflag & ~framing) &&
           (now.c_iflag & ~check) == (asked.c_iflag & ~check) && now.c_oflag == asked.c_oflag &&
           now.c_lflag == asked.c_lflag && ::cfgetospeed(&now) == ::cfgetospeed(&asked);
  }
  bool get_timeouts(sio_timeouts_t& timeouts) override {
    timeouts = timeouts_;
    return true;
  }
  bool set_timeouts(const sio_timeouts_t& timeouts) override {
    timeouts_ = timeouts;
    return true;
  }
  bool escape(uint32_t function) override {
    int bits = TIOCM_DTR;
    if (function == SIO_SETDTR) return ::ioctl(fd_, TIOCMBIS, &bits) == 0;
    if (function == SIO_CLRDTR) return ::ioctl(fd_, TIOCMBIC, &bits) == 0;
    return false;
  }
  bool purge(uint32_t flags) override {
    const bool rx = (flags & SIO_PURGE_RXCLEAR) != 0;
    const bool tx = (flags & SIO_PURGE_TXCLEAR) != 0;
    if (!rx && !tx) return fd_ >= 0;
    return ::tcflush(fd_, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0;
  }
  bool clear_error(sio_status_t& status) override {
    status = {};
    int in = 0;
    if (::ioctl(fd_, FIONREAD, &in) != 0) return false;
    int out = 0;
    if (::ioctl(fd_, TIOCOUTQ, &out) != 0) out = 0;
    status.in_queue = static_cast<uint32_t>(std::max(in, 0));
    status.out_queue = static_cast<uint32_t>(std::max(out, 0));
    return true;
  }

  // Done when all bytes came, when multiplier * n + constant ms passed (if
  // not 0), or when no byte came for the interval after the first one.
  bool read(std::span<uint8_t> buffer, std::size_t& count) override {
    count = 0;
    if (fd_ < 0) return false;
    const sio_timeouts_t t = timeouts_;
    const bool at_once = t.ReadIntervalTimeout == SIO_MAXDWORD &&
                         t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const int64_t total = static_cast<int64_t>(t.ReadTotalTimeoutMultiplier) * buffer.size() +
                          t.ReadTotalTimeoutConstant;
    const bool has_interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != SIO_MAXDWORD;
    const int64_t start = monotonic_ms();
    int64_t last_byte = 0;
    while (count < buffer.size()) {
      const ssize_t n = ::read(fd_, buffer.data() + count, buffer.size() - count);
      if (n > 0) {
        count += static_cast<std::size_t>(n);
        last_byte = monotonic_ms();
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (at_once) return true;
      int64_t end = total > 0 ? start + total : LLONG_MAX;
      if (has_interval && count > 0) end = std::min(end, last_byte + t.ReadIntervalTimeout);
      const int wait = poll_wait(end);
      if (wait == 0) return true;
      pollfd p{fd_, POLLIN, 0};
      const int r = ::poll(&p, 1, wait);
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && (p.revents & POLLIN) == 0) return false;  // hung up or failed
    }
    return true;
  }

  bool write(std::span<const uint8_t> buffer, std::size_t& count) override {
    count = 0;
    if (fd_ < 0) return false;
    const sio_timeouts_t t = timeouts_;
    const int64_t total = static_cast<int64_t>(t.WriteTotalTimeoutMultiplier) * buffer.size() +
                          t.WriteTotalTimeoutConstant;
    const int64_t end = total > 0 ? monotonic_ms() + total : LLONG_MAX;
    while (count < buffer.size()) {
      const ssize_t n = ::write(fd_, buffer.data() + count, buffer.size() - count);
      if (n > 0) {
        count += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      const int wait = poll_wait(end);
      if (wait == 0) return true;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, wait) < 0 && errno != EINTR) return false;
    }
    return true;
  }

 private:
  int fd_;
  sio_dcb_t state_{};
  sio_timeouts_t timeouts_{};
  uint32_t event_mask_ = 0;
};

class PosixSerial final : public SerialBackend {
 public:
  std::unique_ptr<SerialLine> open(const char* name) override {
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    termios tio{};
    // TIOCEXCL keeps other openers out, except root; the lock keeps out
    // other users of this library, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0 ||
        ::tcgetattr(fd, &tio) != 0) {
      ::close(fd);
      return nullptr;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixLine>(fd, tio);
  }
};

}  // namespace

SerialBackend& native_serial_backend() {
  static PosixSerial backend;
  return backend;
}

}  // namespace plat
