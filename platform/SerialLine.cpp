// Serial ports through termios behind the Win32-style call table: any baud rate, control lines, time-outs.
#include "platform/CommApi.h"

#include <algorithm>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// One open port: the descriptor and the time-outs that Win32 keeps with the handle.
struct tSerialLine {
    int Fd = -1;
    tCommTimeouts Timeouts = {};
};

tSerialLine* Line(HANDLE handle) {
    if (!IsValidHandle(handle)) {
        errno = EBADF;
        return nullptr;
    }
    return static_cast<tSerialLine*>(handle);
}

using tClock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll; -1 waits without end.
int Remaining(const tClock::time_point* deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - tClock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Control lines are not there on every line (a pseudo-terminal has none): such a refusal is no failure.
bool ModemIoctl(int fd, unsigned long request, int bits) {
    if (ioctl(fd, request, &bits) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

HANDLE SerialCreateFile(const char* name, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return InvalidHandle();
    // The port is not shared: a second opener, in this program or another, is refused.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY)) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = error;
        return InvalidHandle();
    }
    termios2 tio = {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return InvalidHandle();
    }
    // Raw bytes: no echo, no line editing, no translation of CR or LF, no flow control.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ioctl(fd, TCSETS2, &tio);
    auto* line = new tSerialLine;
    line->Fd = fd;
    return line;
}

BOOL SerialGetCommState(HANDLE handle, tDCB* dcb) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    termios2 tio = {};
    if (ioctl(line->Fd, TCGETS2, &tio) != 0) return 0;
    dcb->DCBlength = sizeof(tDCB);
    dcb->BaudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        dcb->ByteSize = 5;
        break;
    case CS6:
        dcb->ByteSize = 6;
        break;
    case CS7:
        dcb->ByteSize = 7;
        break;
    default:
        dcb->ByteSize = 8;
        break;
    }
    dcb->Parity = !(tio.c_cflag & PARENB) ? 0 : (tio.c_cflag & PARODD) ? 1 : 2;
    dcb->StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    int bits = 0;
    const bool rts = ioctl(line->Fd, TIOCMGET, &bits) == 0 ? (bits & TIOCM_RTS) != 0 : true;
    SetRtsControl(*dcb, (tio.c_cflag & CRTSCTS) ? 2 : rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    return 1;
}

BOOL SerialSetCommState(HANDLE handle, tDCB* dcb) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    if (dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > 2) {
        errno = EINVAL;
        return 0;
    }
    termios2 tio = {};
    if (ioctl(line->Fd, TCGETS2, &tio) != 0) return 0;
    // Any rate, the sensor's own included, through BOTHER.
    tio.c_cflag &= ~(CBAUD | CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = tio.c_ospeed = dcb->BaudRate;
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[dcb->ByteSize - 5];
    if (dcb->Parity != 0) tio.c_cflag |= PARENB | (dcb->Parity == 1 ? PARODD : 0);
    if (dcb->StopBits != 0) tio.c_cflag |= CSTOPB;
    const DWORD rts = RtsControl(*dcb);
    if (rts == 2) tio.c_cflag |= CRTSCTS;
    if (ioctl(line->Fd, TCSETS2, &tio) != 0) return 0;
    if (rts == RTS_CONTROL_ENABLE) return ModemIoctl(line->Fd, TIOCMBIS, TIOCM_RTS) ? 1 : 0;
    if (rts == RTS_CONTROL_DISABLE) return ModemIoctl(line->Fd, TIOCMBIC, TIOCM_RTS) ? 1 : 0;
    return 1;
}

BOOL SerialGetCommTimeouts(HANDLE handle, tCommTimeouts* timeouts) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    *timeouts = line->Timeouts;
    return 1;
}

BOOL SerialSetCommTimeouts(HANDLE handle, tCommTimeouts* timeouts) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    line->Timeouts = *timeouts;
    return 1;
}

BOOL SerialPurgeComm(HANDLE handle, DWORD flags) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    const bool rx = flags & PURGE_RXCLEAR;
    const bool tx = flags & PURGE_TXCLEAR;
    // Reads and writes are synchronous, so there is never one to abort.
    if (!rx && !tx) return 1;
    return ioctl(line->Fd, TCFLSH, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0 ? 1 : 0;
}

BOOL SerialSetCommBreak(HANDLE handle) {
    tSerialLine* line = Line(handle);
    return line && ModemIoctl(line->Fd, TIOCSBRK, 0) ? 1 : 0;
}

BOOL SerialClearCommBreak(HANDLE handle) {
    tSerialLine* line = Line(handle);
    return line && ModemIoctl(line->Fd, TIOCCBRK, 0) ? 1 : 0;
}

BOOL SerialEscapeCommFunction(HANDLE handle, DWORD function) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    switch (function) {
    case SETRTS:
        return ModemIoctl(line->Fd, TIOCMBIS, TIOCM_RTS) ? 1 : 0;
    case CLRRTS:
        return ModemIoctl(line->Fd, TIOCMBIC, TIOCM_RTS) ? 1 : 0;
    case SETDTR:
        return ModemIoctl(line->Fd, TIOCMBIS, TIOCM_DTR) ? 1 : 0;
    case CLRDTR:
        return ModemIoctl(line->Fd, TIOCMBIC, TIOCM_DTR) ? 1 : 0;
    case SETBREAK:
        return SerialSetCommBreak(handle);
    case CLRBREAK:
        return SerialClearCommBreak(handle);
    }
    errno = EINVAL;
    return 0;
}

BOOL SerialGetCommModemStatus(HANDLE handle, DWORD* status) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    int bits = 0;
    if (ioctl(line->Fd, TIOCMGET, &bits) != 0) return 0;
    *status = ((bits & TIOCM_CTS) ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? MS_DSR_ON : 0) |
              ((bits & TIOCM_RI) ? MS_RING_ON : 0) | ((bits & TIOCM_CD) ? MS_RLSD_ON : 0);
    return 1;
}

BOOL SerialReadFile(HANDLE handle, void* buffer, DWORD size, DWORD* done, void*) {
    *done = 0;
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    const tCommTimeouts& t = line->Timeouts;
    // An interval time-out of MAXDWORD with no totals returns at once with what is there.
    const bool immediate = t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    const std::uint64_t total =
        std::uint64_t(t.ReadTotalTimeoutMultiplier) * size + t.ReadTotalTimeoutConstant;
    const tClock::time_point deadline = tClock::now() + std::chrono::milliseconds(immediate ? 0 : total);
    // Both totals 0: the read waits until all bytes came.
    const tClock::time_point* limit = (total == 0 && !immediate) ? nullptr : &deadline;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (*done < size) {
        const ssize_t got = ::read(line->Fd, bytes + *done, size - *done);
        if (got > 0) {
            *done += DWORD(got);
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) return 0;
        const int wait = Remaining(limit);
        if (wait == 0) break;
        pollfd p = {line->Fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno != EINTR) return 0;
        // A hang-up with nothing left to read is a line that went away.
        if (ready > 0 && (p.revents & (POLLERR | POLLNVAL))) {
            errno = EIO;
            return 0;
        }
        if (ready > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) {
            if (Remaining(limit) == 0) break;
            ::poll(nullptr, 0, std::min(Remaining(limit), 10));
        }
    }
    return 1;
}

BOOL SerialWriteFile(HANDLE handle, void* buffer, DWORD size, DWORD* done, void*) {
    *done = 0;
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    const tCommTimeouts& t = line->Timeouts;
    const std::uint64_t total =
        std::uint64_t(t.WriteTotalTimeoutMultiplier) * size + t.WriteTotalTimeoutConstant;
    const tClock::time_point deadline = tClock::now() + std::chrono::milliseconds(total);
    const tClock::time_point* limit = total == 0 ? nullptr : &deadline;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (*done < size) {
        const ssize_t put = ::write(line->Fd, bytes + *done, size - *done);
        if (put > 0) {
            *done += DWORD(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) return 0;
        const int wait = Remaining(limit);
        if (wait == 0) break;
        pollfd p = {line->Fd, POLLOUT, 0};
        if (::poll(&p, 1, wait) < 0 && errno != EINTR) return 0;
        if (p.revents & (POLLERR | POLLNVAL | POLLHUP)) {
            errno = EIO;
            return 0;
        }
    }
    return 1;
}

BOOL SerialCloseHandle(HANDLE handle) {
    tSerialLine* line = Line(handle);
    if (!line) return 0;
    const int result = ::close(line->Fd);
    delete line;
    return result == 0 ? 1 : 0;
}

const tCommApi kTermios = {
    SerialCreateFile,      SerialGetCommState,       SerialSetCommState,       SerialGetCommTimeouts,
    SerialSetCommTimeouts, SerialPurgeComm,          SerialEscapeCommFunction, SerialSetCommBreak,
    SerialClearCommBreak,  SerialGetCommModemStatus, SerialReadFile,           SerialWriteFile,
    SerialCloseHandle,
};

std::atomic<const tCommApi*> gComApi{nullptr};

} // namespace

const tCommApi& TermiosComApi() {
    return kTermios;
}

const tCommApi& ComApi() {
    const tCommApi* api = gComApi.load();
    return api ? *api : kTermios;
}

void SetComApi(const tCommApi* api) {
    gComApi.store(api);
}
