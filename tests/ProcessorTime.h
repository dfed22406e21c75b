// Processor time of the calling thread and of the whole process, in ms, for
// the checks that a waiting caller or an idle object costs next to nothing.
// Under Wine both come in steps of about 10 ms.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <time.h>
#endif

namespace pesolink {

#ifdef _WIN32
inline double FileTimeMs(const FILETIME& f) {
    return (static_cast<double>(f.dwHighDateTime) * 4294967296.0 + f.dwLowDateTime) / 10000.0;
}
#endif

inline double ThreadCpuMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return FileTimeMs(kernel) + FileTimeMs(user);
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
#endif
}

// Every thread's, the worker's included.
inline double ProcessCpuMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return FileTimeMs(kernel) + FileTimeMs(user);
#else
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
#endif
}

}  // namespace pesolink
