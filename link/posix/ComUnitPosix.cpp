// Serial module on a termios device. Port n is "<PESOLINK_COM_DIR>/com<n>"
// when that variable is set (a folder of links, as Wine's dosdevices), or
// /dev/ttyS<n-1> otherwise.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/ComUnit.h"
#include "link/Ticks.h"

namespace pesolink {

namespace {

speed_t SpeedFor(uint32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return 0;
    }
}

// A pseudo-terminal keeps no PARENB and then reports EINVAL although it holds
// everything else asked for; that is as good as the line can be.
bool SameIgnoringParity(const termios& a, const termios& b) {
    const tcflag_t mask = ~static_cast<tcflag_t>(PARENB | CSIZE);
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           (a.c_cflag & mask) == (b.c_cflag & mask) && cfgetospeed(&a) == cfgetospeed(&b) &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace

std::string ComDeviceName(uint16_t portNumber) {
    if (const char* dir = std::getenv("PESOLINK_COM_DIR"); dir && *dir)
        return std::string(dir) + "/com" + std::to_string(portNumber);
    return "/dev/ttyS" + std::to_string(static_cast<int>(portNumber) - 1);
}

ComDevice ComOpenDevice(uint16_t portNumber) {
    const std::string name = ComDeviceName(portNumber);
    const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? ComNoDevice : static_cast<ComDevice>(fd);
}

// Read time-outs are applied per call by ComDeviceRead itself.
bool ComDeviceSetTimeouts(ComDevice device) { return device != ComNoDevice; }

// The kernel's queues are fixed; only the descriptor is checked.
bool ComDeviceSetBuffers(ComDevice device, uint32_t, uint32_t) { return device != ComNoDevice; }

bool ComDeviceSetState(ComDevice device, uint32_t baud, uint8_t parity) {
    if (device == ComNoDevice) return false;
    const int fd = static_cast<int>(device);
    const speed_t speed = SpeedFor(baud);
    if (speed == 0) return false;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB | PARODD | CMSPAR);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    // Parity is generated on transmit; INPCK only marks it for the far end
    // of a pseudo-terminal, which cannot carry the parity bit itself.
    switch (parity) {
        case 1: tio.c_cflag |= PARENB | PARODD; break;
        case 2: tio.c_cflag |= PARENB; break;
        case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: tio.c_cflag |= PARENB | CMSPAR; break;
        default: break;
    }
    if (parity != 0) tio.c_iflag |= INPCK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) == 0) return true;
    if (errno != EINVAL) return false;
    termios now{};
    return tcgetattr(fd, &now) == 0 && SameIgnoringParity(now, tio);
}

int32_t ComDeviceWrite(ComDevice device, const uint8_t* data, int32_t count) {
    if (device == ComNoDevice || data == nullptr || count <= 0) return 0;
    const int fd = static_cast<int>(device);
    int32_t done = 0;
    const uint32_t start = TickCount();
    const uint32_t limit = 2u * static_cast<uint32_t>(count) + 2u;
    while (done < count) {
        const ssize_t n = write(fd, data + done, static_cast<std::size_t>(count - done));
        if (n > 0) {
            done += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            const uint32_t spent = TicksSince(start);
            if (spent >= limit) break;
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, static_cast<int>(limit - spent));
            continue;
        }
        break;
    }
    return done;
}

int32_t ComDeviceRead(ComDevice device, uint8_t* dest, int32_t capacity, int32_t interByteMs) {
    if (device == ComNoDevice || dest == nullptr || capacity <= 0) return 0;
    const int fd = static_cast<int>(device);
    const int32_t want = std::min(ComReadChunk, capacity);
    const uint32_t start = TickCount();
    int32_t got = 0;
    while (got < want) {
        const uint32_t spent = TicksSince(start);
        if (spent >= static_cast<uint32_t>(ComReadTotalTimeout)) break;
        int timeout = static_cast<int>(ComReadTotalTimeout - spent);
        if (got > 0 && interByteMs > 0) timeout = std::min(timeout, static_cast<int>(interByteMs));
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, timeout);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        if (!(p.revents & POLLIN)) {
            // The far end went away: behave as a silent line for the rest of
            // the call rather than return at once again and again.
            const uint32_t left = ComReadTotalTimeout - TicksSince(start);
            if (left < static_cast<uint32_t>(ComReadTotalTimeout))
                std::this_thread::sleep_for(std::chrono::milliseconds(left));
            break;
        }
        const ssize_t n = read(fd, dest + got, static_cast<std::size_t>(want - got));
        if (n > 0) {
            got += static_cast<int32_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            break;
        }
    }
    return got;
}

void ComDeviceDiscardInput(ComDevice device) {
    if (device != ComNoDevice) tcflush(static_cast<int>(device), TCIFLUSH);
}

void ComDeviceClose(ComDevice device) {
    if (device != ComNoDevice) close(static_cast<int>(device));
}

}  // namespace pesolink
