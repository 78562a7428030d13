/* Test-only, preloaded into Wine's processes (LD_PRELOAD): lets a pseudo-terminal stand in
 * for a serial port under Wine.
 *
 * Wine's serial driver asks a COM port's file for its modem lines (TIOCMGET), its interrupt
 * counters (TIOCGICOUNT) and its line status (TIOCSERGETLSR) whenever a program waits for a
 * comm event. A pty answers those with ENOTTY; Wine then ends the wait at once without
 * EV_RXCHAR, and a program waiting for received bytes (QSerialPort does) never gets them.
 * On a pty slave this library answers the three requests as a quiet UART would: no modem
 * line raised, no break, framing, parity or overrun counted, the transmitter empty. Every
 * other request, and every other file, goes to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Linux numbers the slaves of /dev/ptmx with the character majors 136 to 143
 * (UNIX98_PTY_SLAVE_MAJOR and the seven after it). */
static int IsPtySlave(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*next)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (!next) {
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    }

    const int result = next(fd, request, argument);
    if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !IsPtySlave(fd)) {
        return result;
    }
    switch (request) {
        case TIOCMGET:
            *(int*)argument = 0;
            break;
        case TIOCGICOUNT:
            memset(argument, 0, sizeof(struct serial_icounter_struct));
            break;
        case TIOCSERGETLSR:
            *(unsigned int*)argument = TIOCSER_TEMT;
            break;
        default:
            return result;
    }
    errno = 0;
    return 0;
}
