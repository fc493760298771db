/* zarvik.dll from a C host built with the header and its import library (on
 * 32-bit Windows through __stdcall): the driver DLL is found and loaded, the
 * driver's own errors come back as statuses with their UTF-8 text. No serial
 * line is needed. Exit status 0 when every check holds. */
#include <stdio.h>
#include <string.h>

#include "zarvik/zarvik_c.h"

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        char text[256];
        zarvik_last_error(text, sizeof text, NULL);
        printf("FAIL: %s (last error: %s)\n", what, text);
        ++failures;
    }
}

static int last_error_has(const char* part) {
    char text[512];
    return zarvik_last_error(text, sizeof text, NULL) == ZARVIK_OK && strstr(text, part) != NULL;
}

int main(void) {
    zarvik_station* station = NULL;
    char info[64];
    int32_t known = 0, value = 0;
    check(zarvik_station_new(0, &station) == ZARVIK_OK && station != NULL, "a station");
    check(zarvik_driver_info(station, info, sizeof info, NULL) == ZARVIK_OK &&
              strcmp(info, "v2.50#Протокол Зенто-М") == 0,
          "the driver information in UTF-8");
    check(zarvik_query_capability(station, 7, &known, &value) == ZARVIK_OK && known == 1 && value == 100,
          "capability 7");
    /* Raised inside ZarvikTrk.dll, caught inside zarvik.dll. */
    check(zarvik_preset_litres(station, 1, 1, 1, -1.0) == ZARVIK_E_ARGUMENT &&
              last_error_has("ожидается неотрицательное число"),
          "the driver's refusal of a negative dose, in UTF-8");
    check(zarvik_line_open(station, 1) == ZARVIK_E_DEVICE && last_error_has("does not open"), "an unmapped line");
    check(zarvik_start(station, 40, 1, 1) == ZARVIK_E_ARGUMENT && last_error_has("line must be 1..32, got 40"),
          "a line out of range");
    check(zarvik_station_free(station) == ZARVIK_OK, "freeing the station");
    printf("%s\n", failures == 0 ? "zarvik.dll: ok" : "zarvik.dll: failed");
    return failures == 0 ? 0 : 1;
}
