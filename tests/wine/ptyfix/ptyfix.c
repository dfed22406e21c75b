/* Preloaded into the wine processes of a test run so that a pseudo-terminal
 * behaves like a serial line towards the Windows program.
 *
 * A pty slave never keeps PARENB (the kernel forces CS8 without parity), and
 * glibc's tcsetattr then fails with EINVAL. Wine applies line settings in
 * several steps that each read the termios back and write it again, so any
 * parity other than none makes SetCommState fail on a pty. Here:
 *  - tcsetattr: on EINVAL from a pty slave, succeed when the device now holds
 *    everything that was asked for except PARENB and CSIZE;
 *  - tcgetattr: on a pty slave, report PARENB while INPCK (which Wine sets
 *    for every parity but none) is held, so read-back shows the parity.
 * Every other device and outcome passes through untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*tcgetattr_fn)(int, struct termios*);
typedef int (*tcsetattr_fn)(int, int, const struct termios*);

static tcgetattr_fn real_tcgetattr(void) {
    static tcgetattr_fn fn;
    if (!fn) fn = (tcgetattr_fn)dlsym(RTLD_NEXT, "tcgetattr");
    return fn;
}

static tcsetattr_fn real_tcsetattr(void) {
    static tcsetattr_fn fn;
    if (!fn) fn = (tcsetattr_fn)dlsym(RTLD_NEXT, "tcsetattr");
    return fn;
}

/* Unix98 pty slaves have character majors 136 to 143. */
static int is_pty_slave(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int same_but_parity(const struct termios* now, const struct termios* asked) {
    const tcflag_t mask = ~(tcflag_t)(PARENB | CSIZE);
    return now->c_iflag == asked->c_iflag && now->c_oflag == asked->c_oflag &&
           now->c_lflag == asked->c_lflag && (now->c_cflag & mask) == (asked->c_cflag & mask) &&
           cfgetispeed(now) == cfgetispeed(asked) && cfgetospeed(now) == cfgetospeed(asked) &&
           memcmp(now->c_cc, asked->c_cc, sizeof now->c_cc) == 0;
}

int tcgetattr(int fd, struct termios* t) {
    tcgetattr_fn get = real_tcgetattr();
    if (!get) {
        errno = ENOSYS;
        return -1;
    }
    const int r = get(fd, t);
    if (r == 0 && (t->c_iflag & INPCK) && is_pty_slave(fd)) t->c_cflag |= PARENB;
    return r;
}

int tcsetattr(int fd, int action, const struct termios* t) {
    tcsetattr_fn set = real_tcsetattr();
    tcgetattr_fn get = real_tcgetattr();
    if (!set || !get) {
        errno = ENOSYS;
        return -1;
    }
    const int r = set(fd, action, t);
    if (r == 0 || errno != EINVAL || !is_pty_slave(fd)) return r;
    const int saved = errno;
    struct termios now;
    if (get(fd, &now) == 0 && same_but_parity(&now, t)) return 0;
    errno = saved;
    return -1;
}
