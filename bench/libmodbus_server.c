/* A fast Modbus RTU slave for measuring masters: no pacing, answers as soon as
 * a request is complete. Slave 1, holding registers 0..99 holding their own
 * address. Ends on SIGINT/SIGTERM or when the line goes away. */
#include <errno.h>
#include <modbus.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int sig) {
    (void)sig;
    stop_requested = 1;
}

static int parse_int(const char* text, long min, long max, long* out) {
    char* end = NULL;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return -1;
    *out = v;
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr,
                "usage: %s DEVICE [BAUD]\n"
                "Answers functions 3 and 16 as slave 1 (registers 0..99) at BAUD "
                "(default 38400) 8N1.\n",
                argv[0]);
        return argc == 2 ? 0 : 64;
    }
    long baud = 38400;
    if (argc == 3 && parse_int(argv[2], 50, 4000000, &baud) != 0) {
        fprintf(stderr, "BAUD must be a whole number, not \"%s\"\n", argv[2]);
        return 64;
    }

    modbus_t* ctx = modbus_new_rtu(argv[1], (int)baud, 'N', 8, 1);
    if (ctx == NULL) {
        fprintf(stderr, "cannot set up %s: %s\n", argv[1], modbus_strerror(errno));
        return 2;
    }
    modbus_set_slave(ctx, 1);
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 100, 0);
    if (map == NULL) {
        fprintf(stderr, "cannot allocate registers: %s\n", modbus_strerror(errno));
        modbus_free(ctx);
        return 2;
    }
    for (int i = 0; i < 100; ++i)
        map->tab_registers[i] = (uint16_t)i;
    if (modbus_connect(ctx) != 0) {
        fprintf(stderr, "cannot open %s: %s\n", argv[1], modbus_strerror(errno));
        modbus_mapping_free(map);
        modbus_free(ctx);
        return 2;
    }

    /* No SA_RESTART: a signal must break the blocking receive. */
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);

    printf("libmodbus_server ready on %s\n", argv[1]);
    fflush(stdout);

    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    int status = 0;
    while (!stop_requested) {
        int n = modbus_receive(ctx, request);
        if (n > 0) {
            modbus_reply(ctx, request, n, map);
        } else if (n == -1) {
            if (errno == EINTR || stop_requested)
                break;
            /* A garbled or foreign frame is the master's problem; keep serving. */
            if (errno == EMBBADCRC || errno == EMBBADDATA || errno == EMBBADSLAVE ||
                errno == ETIMEDOUT)
                continue;
            fprintf(stderr, "line lost: %s\n", modbus_strerror(errno));
            status = 2;
            break;
        }
    }

    modbus_close(ctx);
    modbus_mapping_free(map);
    modbus_free(ctx);
    return status;
}
