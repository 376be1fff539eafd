#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/pty.h"

namespace plat {
namespace {

uint32_t baud_of(speed_t s) {
  struct Pair {
    speed_t speed;
    uint32_t baud;
  };
  constexpr Pair kSpeeds[] = {{B150, 150},     {B300, 300},       {B600, 600},
                              {B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                              {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                              {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
  for (const Pair& p : kSpeeds)
    if (p.speed == s) return p.baud;
  return 0;
}

}  // namespace

PtyPair::PtyPair() {
  termios raw{};
  ::cfmakeraw(&raw);
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  name_ = name;
}

PtyPair::~PtyPair() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

bool PtyPair::send(std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
  return true;
}

std::vector<uint8_t> PtyPair::receive(std::size_t count, int timeout_ms) {
  std::vector<uint8_t> out;
  const int64_t end = monotonic_ms() + timeout_ms;
  while (out.size() < count) {
    uint8_t buf[4096];
    const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
    if (n > 0) {
      out.insert(out.end(), buf, buf + n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    const int64_t left = end - monotonic_ms();
    if (left <= 0) break;
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return out;
}

bool PtyPair::settings(Settings& out) const {
  termios tio{};
  if (::tcgetattr(slave_, &tio) != 0) return false;
  out.baud = baud_of(::cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5: out.data_bits = 5; break;
    case CS6: out.data_bits = 6; break;
    case CS7: out.data_bits = 7; break;
    default: out.data_bits = 8; break;
  }
  out.parity = (tio.c_cflag & PARENB) != 0;
  out.odd = (tio.c_cflag & PARODD) != 0;
  out.two_stop = (tio.c_cflag & CSTOPB) != 0;
  out.cts_flow = (tio.c_cflag & CRTSCTS) != 0;
  out.xon_out = (tio.c_iflag & IXON) != 0;
  out.xon_in = (tio.c_iflag & IXOFF) != 0;
  out.raw = (tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) == 0 &&
            (tio.c_iflag & (ICRNL | INLCR | IGNCR)) == 0 && (tio.c_oflag & OPOST) == 0;
  return true;
}

}  // namespace plat
