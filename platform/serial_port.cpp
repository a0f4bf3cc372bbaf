#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/serial_baud.h"
#include "platform/unique_fd.h"

namespace qm {
namespace {

struct BaudConstant {
  uint32_t rate;
  speed_t constant;
};

constexpr BaudConstant kStandardRates[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool StandardRate(uint32_t rate, speed_t* constant) {
  for (const auto& entry : kStandardRates) {
    if (entry.rate == rate) {
      *constant = entry.constant;
      return true;
    }
  }
  return false;
}

// Raw mode without touching the character format or the speed, so that a port
// configured elsewhere ("modem.default") keeps its own line settings.
void MakeRaw(termios& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | IMAXBEL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  // One byte satisfies a read, so a non-blocking read reports "nothing yet"
  // as EAGAIN and only a hang-up as end of file.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

SysError Ok() { return SysError{}; }
SysError NotOpen() { return SysErrorFromErrno(EBADF); }
SysError Invalid() { return SysErrorFromErrno(EINVAL); }

bool IsHangupErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int PollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
  const int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
  for (;;) {
    const int r = ::poll(fds, count, timeoutMs);
    if (r >= 0 || errno != EINTR) return r;
    if (deadline >= 0) timeoutMs = static_cast<int>(std::max<int64_t>(0, deadline - NowMs()));
  }
}

}  // namespace

std::string BuildPortPath(std::string_view name, bool usePrefix, std::string_view prefix) {
  if (usePrefix) return std::string(prefix) + std::string(name);
  if (!name.empty() && name.front() == '/') return std::string(name);
  return "/dev/" + std::string(name);
}

class SerialPort::Use {
 public:
  explicit Use(SerialPort& port) : port_(port) {
    std::lock_guard lock(port_.mutex_);
    if (port_.fd_ >= 0 && !port_.closing_) {
      fd_ = port_.fd_;
      generation_ = port_.generation_;
      ++port_.users_;
    }
  }
  ~Use() {
    if (fd_ < 0) return;
    std::lock_guard lock(port_.mutex_);
    if (--port_.users_ == 0) port_.idle_.notify_all();
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  int fd() const { return fd_; }
  uint64_t generation() const { return generation_; }

 private:
  SerialPort& port_;
  int fd_ = -1;
  uint64_t generation_ = 0;
};

SerialPort::~SerialPort() { Close(false); }

namespace {

// Opens a port without changing anything about it and checks that no other
// program holds it: neither its exclusive mode (which root passes by) nor an
// flock. The descriptor keeps our flock when `lock` is set.
SysError OpenUnheld(const std::string& path, bool lock, UniqueFd& fd) {
  fd.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return SysErrorFromErrno(errno);
  if (::isatty(fd.get()) == 0) return SysErrorFromErrno(errno);  // no serial port at all
  int held = 0;
  if (::ioctl(fd.get(), TIOCGEXCL, &held) == 0 && held != 0) return SysErrorFromErrno(EACCES);
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    // Another program holds the port: report it as "access denied".
    return SysErrorFromErrno(errno == EWOULDBLOCK ? EACCES : errno);
  }
  if (!lock) ::flock(fd.get(), LOCK_UN);
  return Ok();
}

}  // namespace

SysError SerialPort::IsFree(const std::string& path) {
  UniqueFd fd;
  return OpenUnheld(path, false, fd);
}

SysError SerialPort::Open(const std::string& path) {
  if (path.empty()) return SysError{kErrInvalidName, ErrorStr(kErrInvalidName)};
  Close(true);

  UniqueFd fd;
  if (const SysError held = OpenUnheld(path, true, fd); held.code != kErrNone) return held;
  if (::ioctl(fd.get(), TIOCEXCL) != 0) return SysErrorFromErrno(errno);
  termios tio{};
  if (::tcgetattr(fd.get(), &tio) != 0) return SysErrorFromErrno(errno);
  MakeRaw(tio);
  if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) return SysErrorFromErrno(errno);
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd.get(), TIOCMBIS, &lines);  // pseudo-terminals have no modem lines: ignored

  std::lock_guard lock(mutex_);
  fd_ = fd.Release();
  ++generation_;
  return Ok();
}

bool SerialPort::CloseLocked(std::unique_lock<std::mutex>& lock, bool purge) {
  if (closing_) {
    // Another thread is closing this very port.
    idle_.wait(lock, [&] { return !closing_; });
    return false;
  }
  if (fd_ < 0) return false;
  closing_ = true;
  closing_event_.Signal();
  idle_.wait(lock, [&] { return users_ == 0; });
  const int fd = fd_;
  if (purge) ::tcflush(fd, TCIOFLUSH);
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
  fd_ = -1;
  closing_event_.Drain();
  closing_ = false;
  idle_.notify_all();
  return true;
}

bool SerialPort::Close(bool purge) {
  std::unique_lock lock(mutex_);
  return CloseLocked(lock, purge);
}

bool SerialPort::CloseGeneration(uint64_t generation, bool purge) {
  std::unique_lock lock(mutex_);
  if (fd_ < 0 || generation_ != generation) return false;
  return CloseLocked(lock, purge);
}

bool SerialPort::IsOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0 && !closing_;
}

uint64_t SerialPort::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

SysError SerialPort::Configure(const LineSettings& s) {
  if (s.byteSize < 5 || s.byteSize > 8 || s.parity < 0 || s.parity > 4 || s.baudRate == 0) return Invalid();
  // One and a half stop bits exist only with 5 data bits, two only with more.
  if (s.stopBits == 1 && s.byteSize != 5) return Invalid();
  if (s.stopBits == 2 && s.byteSize == 5) return Invalid();
  if (s.stopBits < 0 || s.stopBits > 2) return Invalid();

  Use use(*this);
  if (use.fd() < 0) return NotOpen();
  termios tio{};
  if (::tcgetattr(use.fd(), &tio) != 0) return SysErrorFromErrno(errno);

  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  tio.c_cflag |= kSizes[s.byteSize - 5];
  switch (s.parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (s.stopBits != 0) tio.c_cflag |= CSTOPB;
  if (s.parityCheck) {
    tio.c_iflag |= INPCK;
  } else {
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  }
  speed_t speed = B0;
  const bool standard = StandardRate(s.baudRate, &speed);
  if (standard && (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)) {
    return SysErrorFromErrno(errno);
  }
  if (::tcsetattr(use.fd(), TCSANOW, &tio) != 0) return SysErrorFromErrno(errno);
  if (!standard) {
    if (const int err = SetCustomBaudRate(use.fd(), s.baudRate); err != 0) return SysErrorFromErrno(err);
  }
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(use.fd(), TIOCMBIS, &lines);
  return Ok();
}

void SerialPort::SetTimeouts(const PortTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
}

PortTimeouts SerialPort::Timeouts() const {
  std::lock_guard lock(mutex_);
  return timeouts_;
}

SysError SerialPort::Write(std::string_view data) {
  const PortTimeouts t = Timeouts();
  Use use(*this);
  if (use.fd() < 0) return NotOpen();
  const uint64_t budget = uint64_t{t.writeMultiplier} * data.size() + t.writeConstant;
  const int64_t deadline = budget == 0 ? -1 : NowMs() + static_cast<int64_t>(std::min<uint64_t>(budget, INT_MAX));
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(use.fd(), data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return SysErrorFromErrno(errno);
    int wait = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - NowMs();
      if (left <= 0) return SysErrorFromErrno(ETIMEDOUT);
      wait = static_cast<int>(left);
    }
    pollfd fds[2] = {{use.fd(), POLLOUT, 0}, {closing_event_.fd(), POLLIN, 0}};
    if (PollRetrying(fds, 2, wait) < 0) return SysErrorFromErrno(errno);
    if (fds[1].revents != 0) return NotOpen();
  }
  return Ok();
}

SysError SerialPort::Purge() {
  Use use(*this);
  if (use.fd() < 0) return NotOpen();
  if (::tcflush(use.fd(), TCIOFLUSH) != 0) return SysErrorFromErrno(errno);
  return Ok();
}

SysError SerialPort::DrainOutput() {
  Use use(*this);
  if (use.fd() < 0) return NotOpen();
  if (::tcdrain(use.fd()) != 0) return SysErrorFromErrno(errno);
  return Ok();
}

SerialPort::WaitResult SerialPort::WaitReadable(int timeoutMs, uint64_t* generation, SysError* error) {
  Use use(*this);
  if (generation) *generation = use.generation();
  if (use.fd() < 0) return WaitResult::kClosed;
  pollfd fds[3] = {{use.fd(), POLLIN, 0}, {wake_.fd(), POLLIN, 0}, {closing_event_.fd(), POLLIN, 0}};
  const int r = PollRetrying(fds, 3, timeoutMs);
  if (r < 0) {
    if (error) *error = SysErrorFromErrno(errno);
    return WaitResult::kFailed;
  }
  if (r == 0) return WaitResult::kTimeout;
  if (fds[2].revents != 0) return WaitResult::kClosed;
  if (fds[0].revents & POLLIN) return WaitResult::kReadable;
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    if (error) *error = SysErrorFromErrno(EIO);
    return WaitResult::kHangup;
  }
  wake_.Drain();
  return WaitResult::kWoken;
}

SerialPort::ReadResult SerialPort::Read(char* buffer, std::size_t size) {
  ReadResult result;
  Use use(*this);
  if (use.fd() < 0) {
    result.closed = true;
    return result;
  }
  for (;;) {
    const ssize_t n = ::read(use.fd(), buffer, size);
    if (n > 0) {
      result.count = static_cast<std::size_t>(n);
    } else if (n == 0) {
      result.hangup = true;  // end of file on a tty: hung up
      result.error = SysErrorFromErrno(EIO);
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN) {
      result.hangup = IsHangupErrno(errno);
      result.error = SysErrorFromErrno(errno);
    }
    return result;
  }
}

bool SerialPort::WaitMoreInput(int timeoutMs) {
  Use use(*this);
  if (use.fd() < 0) return false;
  pollfd fds[2] = {{use.fd(), POLLIN, 0}, {closing_event_.fd(), POLLIN, 0}};
  if (PollRetrying(fds, 2, timeoutMs) <= 0) return false;
  return fds[1].revents == 0 && fds[0].revents != 0;
}

void SerialPort::WakeReader() { wake_.Signal(); }

SysError SerialPort::ReadUntilSilence(std::string& out, std::size_t max, int silenceMs) {
  char chunk[256];
  while (out.size() < max) {
    if (!WaitMoreInput(silenceMs)) break;
    const ReadResult r = Read(chunk, std::min(sizeof chunk, max - out.size()));
    if (r.count > 0) {
      out.append(chunk, r.count);
      continue;
    }
    if (r.closed) return out.empty() ? NotOpen() : Ok();
    if (r.error.code != kErrNone) return out.empty() ? r.error : Ok();
  }
  return Ok();
}

}  // namespace qm
