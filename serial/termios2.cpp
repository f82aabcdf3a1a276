// Rates without a B* constant. <asm/termbits.h> clashes with glibc's
// <termios.h>, so this file includes nothing that pulls the latter in.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace q274 {

int SetOtherBaudRate(int fd, int rate)
{
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0)
        return errno;
    t2.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t2.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t2.c_ispeed = speed_t(rate);
    t2.c_ospeed = speed_t(rate);
    if (ioctl(fd, TCSETS2, &t2) != 0)
        return errno;
    return 0;
}

int GetBaudRate2(int fd)
{
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0)
        return -1;
    return int(t2.c_ospeed);
}

} // namespace q274
