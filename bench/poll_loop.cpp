/* q274-poll-loop DEVICE: the bare polling of the board in plain C style,
 * without Qt or threads, as the yardstick for scripts/bench-process.sh. It
 * sends what the program sends on a connection: "?" at once, "T0" 250 ms after the
 * identification reply (and the 900 ms rotation T1, T2, T3, T4, T1, ... from
 * then on), "S0" 200 ms after the first all-channel reading; every command
 * leaves on a tick of the 75 ms sender grid once the previous one has been
 * answered by a whole line (stop and wait). A late tick is taken at once and
 * the next one stays on its grid. Runs until SIGINT or SIGTERM. */
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

typedef int64_t nsec;

enum { kSendMs = 75, kRotationMs = 900, kStatusDelayMs = 250, kRelayDelayMs = 200, kQueueSize = 16 };

static volatile sig_atomic_t g_stop;

static void on_signal(int sig)
{
    (void)sig;
    g_stop = 1;
}

static nsec now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (nsec)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

/* The deadline after a tick on the grid previous + k * interval: the next
 * point, or when that has passed already the last point passed (taken at
 * once, once). */
static nsec next_tick(nsec previous, nsec interval, nsec now)
{
    nsec next = previous + interval;
    if (next <= now)
        next += (now - next) / interval * interval;
    return next;
}

/* One-shot or periodic timer; 0 = off. */
struct timer {
    nsec deadline;
    nsec interval;
};

static char g_queue[kQueueSize][8];
static int g_head, g_count;

static void queue_command(const char *command)
{
    if (g_count == kQueueSize)
        return;
    snprintf(g_queue[(g_head + g_count) % kQueueSize], sizeof g_queue[0], "%s", command);
    ++g_count;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);

    const nsec ms = 1000000;
    const nsec start = now_ns();
    struct timer sender = {start + kSendMs * ms, kSendMs * ms};
    struct timer status = {0, 0}, relay = {0, 0}, rotation = {0, kRotationMs * ms};
    int ready = 0, identified = 0, first_reading = 0, channel = 1;
    char line[256];
    size_t line_len = 0;

    if (write(fd, "?", 1) != 1)
        return 1;

    while (!g_stop) {
        nsec wake = sender.deadline;
        if (status.deadline && status.deadline < wake)
            wake = status.deadline;
        if (relay.deadline && relay.deadline < wake)
            wake = relay.deadline;
        if (rotation.deadline && rotation.deadline < wake)
            wake = rotation.deadline;
        nsec wait = wake - now_ns();
        if (wait < 0)
            wait = 0;
        struct timespec ts = {(time_t)(wait / 1000000000), (long)(wait % 1000000000)};
        struct pollfd p = {fd, POLLIN, 0};
        const int pr = ppoll(&p, 1, &ts, NULL);
        if (pr < 0 && errno != EINTR)
            return 1;
        if (pr > 0) {
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
                break;
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\r' && buf[i] != '\n') {
                    if (line_len < sizeof line - 1)
                        line[line_len++] = buf[i];
                    continue;
                }
                if (line_len == 0)
                    continue;
                line[line_len] = 0;
                line_len = 0;
                ready = 1;
                if (line[0] == '?' && !identified) {
                    identified = 1;
                    status.deadline = now_ns() + kStatusDelayMs * ms;
                } else if (line[0] == 'T' && line[1] == '0' && !first_reading) {
                    first_reading = 1;
                    relay.deadline = now_ns() + kRelayDelayMs * ms;
                }
            }
        }
        const nsec now = now_ns();
        if (status.deadline && status.deadline <= now) {
            status.deadline = 0;
            queue_command("T0");
            rotation.deadline = now + rotation.interval;
        }
        if (relay.deadline && relay.deadline <= now) {
            relay.deadline = 0;
            queue_command("S0");
        }
        if (rotation.deadline && rotation.deadline <= now) {
            char command[4] = {'T', (char)('0' + channel), 0, 0};
            channel = channel == 4 ? 1 : channel + 1;
            queue_command(command);
            rotation.deadline = next_tick(rotation.deadline, rotation.interval, now);
        }
        if (sender.deadline <= now) {
            if (ready && g_count > 0) {
                const char *command = g_queue[g_head];
                ready = 0;
                if (write(fd, command, strlen(command)) < 0)
                    return 1;
                if (strchr(command, 'F') || strchr(command, 'N'))
                    queue_command("S0");
                g_head = (g_head + 1) % kQueueSize;
                --g_count;
            }
            sender.deadline = next_tick(sender.deadline, sender.interval, now);
        }
    }
    close(fd);
    return 0;
}
