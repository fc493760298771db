/* The C interface's header is plain C99: compiled as such, pedantic. */
#include "zarvik/zarvik_c.h"

int32_t zarvik_header_is_c99(void) {
    zarvik_dispenser_status status = {{0}, 0, 0, 0, {0}, {{0.0, 0.0, 0, 0, {0}}}};
    return (int32_t)sizeof status + ZARVIK_OK;
}
