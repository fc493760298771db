/* delivery.c: pours 1.5 litres on nozzle 1 of dispenser 1 through libzarvik,
 * on the serial line named on the command line.
 *
 *   cc delivery.c $(pkg-config --cflags --libs zarvik) -o delivery
 *   ./delivery /dev/ttyUSB0      (or the pseudo-terminal zarvik-sim prints)
 *
 * Exit status: 0 delivered, 1 a call failed (its status and text printed). */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdio.h>
#include <zarvik/zarvik_c.h>

#if defined(_WIN32)
#include <windows.h>
static void pause_ms(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void pause_ms(unsigned ms) {
    struct timespec t = {0, (long)ms * 1000000L};
    nanosleep(&t, NULL);
}
#endif

static int failed(const char* what, int32_t status) {
    char text[512];
    zarvik_last_error(text, sizeof text, NULL); /* cut to the buffer if longer */
    fprintf(stderr, "%s: status %d: %s\n", what, (int)status, text);
    return 1;
}

#define CALL(what, call)                       \
    do {                                       \
        int32_t status_ = (call);              \
        if (status_ != ZARVIK_OK) {            \
            exit_code = failed(what, status_); \
            goto done;                         \
        }                                      \
    } while (0)

int main(int argc, char** argv) {
    zarvik_station* station = NULL;
    zarvik_dispenser_status status;
    double total = 0.0;
    int exit_code = 0;
    int poll;
    if (argc != 2) {
        fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    CALL("station", zarvik_station_new(0, &station));
    CALL("device", zarvik_set_device(station, 1, argv[1]));
    CALL("open", zarvik_line_open(station, 1));
    CALL("price", zarvik_set_price(station, 1, 1, 1, 50.00));
    CALL("dose", zarvik_preset_litres(station, 1, 1, 1, 1.5));
    CALL("start", zarvik_start(station, 1, 1, 1));
    for (poll = 0; poll < 200; ++poll) {
        CALL("poll", zarvik_poll(station, 1, 1, 3, &status));
        if (status.nozzles[0].has_values && status.nozzles[0].litres >= 1.5) break;
        pause_ms(100);
    }
    CALL("total", zarvik_read_total(station, 1, 1, 1, &total));
    printf("delivered %.3f L for %.2f, state 0x%02X, total %.3f L\n", status.nozzles[0].litres, status.nozzles[0].money,
           status.nozzles[0].state, total);
    if (status.nozzles[0].litres < 1.5) exit_code = failed("delivery", ZARVIK_E_INTERNAL);
done:
    zarvik_station_free(station);
    return exit_code;
}
