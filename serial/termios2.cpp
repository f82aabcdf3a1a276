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
    // No input rate of its own (CIBAUD 0): the input follows the output.
    t2.c_cflag &= ~tcflag_t(CBAUD | CIBAUD);
    t2.c_cflag |= BOTHER;
    t2.c_ispeed = speed_t(rate);
    t2.c_ospeed = speed_t(rate);
    if (ioctl(fd, TCSETS2, &t2) != 0)
        return errno;
    return 0;
}

bool GetBaudRates2(int fd, int &input, int &output)
{
    struct termios2 t2 {};
    if (ioctl(fd, TCGETS2, &t2) != 0)
        return false;
    input = int(t2.c_ispeed);
    output = int(t2.c_ospeed);
    return true;
}

} // namespace q274
