/* The reference master for the link benchmark: the same reads the meterlink
 * command line does, timed with the monotonic clock and the process's CPU. */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

static int parse_int(const char* text, long min, long max, long* out) {
    char* end = NULL;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return -1;
    *out = v;
    return 0;
}

static double seconds_now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static double cpu_seconds(void) {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 6 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr,
                "usage: %s DEVICE [REPEAT [ADDRESS [COUNT [BAUD]]]]\n"
                "Reads COUNT (10) holding registers from ADDRESS (24) of slave 1, "
                "REPEAT (2000) times, at BAUD (38400) 8N1.\n",
                argv[0]);
        return argc == 2 ? 0 : 64;
    }
    long repeat = 2000, address = 24, count = 10, baud = 38400;
    if ((argc > 2 && parse_int(argv[2], 1, 100000000, &repeat) != 0) ||
        (argc > 3 && parse_int(argv[3], 0, 65535, &address) != 0) ||
        (argc > 4 && parse_int(argv[4], 1, MODBUS_MAX_READ_REGISTERS, &count) != 0) ||
        (argc > 5 && parse_int(argv[5], 50, 4000000, &baud) != 0)) {
        fprintf(stderr, "bad number among the arguments\n");
        return 64;
    }

    modbus_t* ctx = modbus_new_rtu(argv[1], (int)baud, 'N', 8, 1);
    if (ctx == NULL) {
        fprintf(stderr, "cannot set up %s: %s\n", argv[1], modbus_strerror(errno));
        return 2;
    }
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 1, 0);
    if (modbus_connect(ctx) != 0) {
        fprintf(stderr, "cannot open %s: %s\n", argv[1], modbus_strerror(errno));
        modbus_free(ctx);
        return 2;
    }

    uint16_t regs[MODBUS_MAX_READ_REGISTERS];
    long failures = 0;
    const double cpu0 = cpu_seconds();
    const double t0 = seconds_now();
    for (long i = 0; i < repeat; ++i) {
        if (modbus_read_registers(ctx, (int)address, (int)count, regs) != count) {
            ++failures;
            modbus_flush(ctx);
        }
    }
    const double elapsed = seconds_now() - t0;
    const double cpu = cpu_seconds() - cpu0;

    modbus_close(ctx);
    modbus_free(ctx);

    const long done = repeat - failures;
    printf("libmodbus: %ld of %ld transactions in %.3f s: %.0f transactions/s, "
           "%.4f CPU s per 1000 transactions\n",
           done, repeat, elapsed, elapsed > 0 ? (double)done / elapsed : 0.0,
           repeat > 0 ? cpu * 1000.0 / (double)repeat : 0.0);
    return failures == 0 ? 0 : 2;
}
