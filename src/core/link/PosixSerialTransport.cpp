#include "core/link/PosixSerialTransport.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "core/app/Messages.h"

namespace zelko {
namespace {

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The system's reason for a failed open, with what the user can do about a
// permission problem: join the group that owns the device.
std::string OpenErrorText(const std::string& path, int err)
{
    std::string text = std::strerror(err);
    if (err == EACCES || err == EPERM) {
        std::string group = "dialout";
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (const struct group* g = ::getgrgid(st.st_gid); g && g->gr_name)
                group = g->gr_name;
        }
        text += ". ";
        text += Format(2021, group.c_str(), group.c_str());
    } else if (err == EBUSY || err == EWOULDBLOCK) {
        text += ". ";
        text += Translate(2022);
    } else if (err == ENOTTY) {
        text += ". ";
        text += Translate(2024);
    }
    return text;
}

}  // namespace

PosixSerialTransport::PosixSerialTransport(std::string path) : path_(std::move(path)) {}

PosixSerialTransport::~PosixSerialTransport()
{
    Close();
}

unsigned PosixSerialTransport::SpeedConstant(int baud)
{
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return 0;
    }
}

bool PosixSerialTransport::Open(int baud, std::string& error)
{
    Close();
    const speed_t speed = SpeedConstant(baud);
    if (speed == 0) {
        error = std::strerror(EINVAL);
        return false;
    }
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = OpenErrorText(path_, errno);
        return false;
    }
    auto fail = [&](int err) {
        ::close(fd);
        error = OpenErrorText(path_, err);
        return false;
    };
    // TIOCEXCL is not honoured against root; an advisory lock on the device
    // file is, by every program that takes one (ours, and serial tools that
    // do the same).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);

    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return fail(errno);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK);
    tio.c_iflag |= IGNBRK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = 0x00;
    tio.c_cc[VSTOP] = static_cast<cc_t>(0xFF);
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return fail(errno);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return fail(errno);
    // tcsetattr succeeds when any one change took; check the speed did.
    termios back {};
    if (::tcgetattr(fd, &back) != 0)
        return fail(errno);
    if (::cfgetospeed(&back) != speed)
        return fail(EINVAL);

    // Only now shut others out, so a failure above leaves nothing behind.
    ::ioctl(fd, TIOCEXCL);
    // DTR and RTS off. A pseudo-terminal has no modem lines and refuses this.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
    // Bytes that arrived before the port was ours are not replies to us.
    ::tcflush(fd, TCIFLUSH);
    fd_ = fd;
    return true;
}

void PosixSerialTransport::Close()
{
    if (fd_ < 0)
        return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the flock
    fd_ = -1;
}

void PosixSerialTransport::Drain()
{
    if (fd_ < 0)
        return;
    // Wait for the driver's output queue to empty, but no longer than a write
    // may take: a wedged adapter must not hang the program here (the write
    // that follows then fails on its own time-out). tcdrain() alone has no
    // limit.
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(2800);
    for (;;) {
        int pending = 0;
        if (::ioctl(fd_, TIOCOUTQ, &pending) != 0)
            break;  // the driver cannot tell: let tcdrain decide
        if (pending <= 0)
            break;
        if (SteadyClock::now() >= deadline)
            return;
        const timespec pause{0, 500'000};
        ::nanosleep(&pause, nullptr);
    }
    // The last byte may still be in the transmitter.
    while (::tcdrain(fd_) != 0 && errno == EINTR) {
    }
}

long PosixSerialTransport::Write(const uint8_t* data, size_t n, int timeoutMs)
{
    if (fd_ < 0)
        return -1;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd_, data + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN)
            return done > 0 ? static_cast<long>(done) : -1;
        const int left = RemainingMs(deadline);
        if (left <= 0)
            break;
        pollfd p {fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, left);
        if (r < 0 && errno != EINTR)
            return done > 0 ? static_cast<long>(done) : -1;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT))
            return done > 0 ? static_cast<long>(done) : -1;
    }
    return static_cast<long>(done);
}

long PosixSerialTransport::Read(uint8_t* data, size_t n, int timeoutMs)
{
    if (fd_ < 0)
        return -1;
    // A raw tty read returns 0 both when nothing is there and at a hang-up, so
    // poll decides: readable and yet 0 bytes is the hang-up.
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const long hungUp = -1;
    size_t got = 0;
    while (got < n) {
        pollfd p {fd_, POLLIN, 0};
        const int pr = ::poll(&p, 1, RemainingMs(deadline));
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            return got > 0 ? static_cast<long>(got) : hungUp;
        }
        if (pr == 0)
            break;  // the whole wait is over
        if (!(p.revents & POLLIN))  // POLLHUP, POLLERR, POLLNVAL without data
            return got > 0 ? static_cast<long>(got) : hungUp;
        const ssize_t r = ::read(fd_, data + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // EIO (a pty whose master closed, an unplugged adapter) or end of file.
        return got > 0 ? static_cast<long>(got) : hungUp;
    }
    return static_cast<long>(got);
}

}  // namespace zelko
