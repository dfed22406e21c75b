#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "cli/Console.h"

namespace pesolink::cli {

namespace {

int Descriptor(Stream stream) { return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void Write(Stream stream, std::string_view utf8) {
    const int fd = Descriptor(stream);
    while (!utf8.empty()) {
        const ssize_t n = ::write(fd, utf8.data(), utf8.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed pipe: the text has nowhere to go
        utf8.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool IsTerminal(Stream stream) { return ::isatty(Descriptor(stream)) == 1; }

// Blocked in this thread, and so in every thread started later: the signal
// stays pending until WaitForStop takes it, and no wait inside the driver is
// ever interrupted.
void CatchStop() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool WaitForStop(uint32_t milliseconds) {
    const sigset_t set = StopSignals();
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    for (;;) {
        const int sig = sigtimedwait(&set, nullptr, &left);
        if (sig > 0) return true;
        if (errno == EAGAIN) return false;
        // EINTR (another signal): the time left is not reported; wait no more
        // than the interval again at worst.
    }
}

}  // namespace pesolink::cli
