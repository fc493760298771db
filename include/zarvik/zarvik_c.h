/* libzarvik: the plain C interface of ZarvikTrk, for hosts in C, Python
 * (ctypes), Pascal, C# and any compiler: libzarvik.so.1 (zarvik.dll).
 *
 * A station handle holds the ready-made serial port service and one driver
 * object of libZarvikTrk on it. Map each line (1..32) to its device (or read
 * a station file), open the line, then call the dispenser functions.
 *
 * Results. Every function returns an int32_t status: ZARVIK_OK (0) or one of
 * the ZARVIK_E_* codes below. No C++ exception ever leaves the library. After
 * a failure, zarvik_last_error() gives its text (UTF-8) on the same thread.
 * Out-parameters are written only on ZARVIK_OK unless said otherwise.
 *
 * Numbering: line 1..32, dispenser 1..32 on its line, nozzle 1..6, bus
 * address 0..255 (parameters and descriptions name the device by its bus
 * address). Anything outside is ZARVIK_E_ARGUMENT before anything is sent.
 *
 * Threads. Calls on different lines of one station run in parallel. Calls on
 * the same line are serialised inside: a second caller waits for the first.
 * zarvik_station_free must not run beside any other call on its station.
 * The error text is kept per thread.
 *
 * Ownership and lifetimes. A station is created by zarvik_station_new or
 * zarvik_station_open_file and released by zarvik_station_free, which closes
 * its lines; the handle is invalid afterwards. Strings passed in are read
 * during the call only. Records are the caller's memory, filled in place.
 *
 * Windows (zarvik.dll): every function is declared ZARVIK_CALL, which is
 * __stdcall (on 32-bit Windows the callee pops its arguments; 64-bit Windows
 * has one convention), and exported under its plain name without "_name@N"
 * decoration: Delphi declares them `stdcall; external 'zarvik.dll'`, C#
 * `[DllImport("zarvik.dll", CallingConvention = CallingConvention.StdCall)]`.
 *
 * Symbols carry the version ZARVIK_1.0; nothing else is exported.
 */
#ifndef ZARVIK_ZARVIK_C_H
#define ZARVIK_ZARVIK_C_H

#include <stdint.h>

#if defined(_WIN32)
#define ZARVIK_CALL __stdcall
#if defined(ZARVIK_C_BUILDING)
#define ZARVIK_C_API __declspec(dllexport)
#else
#define ZARVIK_C_API __declspec(dllimport)
#endif
#else
#define ZARVIK_CALL
#define ZARVIK_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
#define ZARVIK_OK 0
/* An argument refused before anything was sent: a number outside its range,
   a null pointer, a value that does not fit the command's field, a station
   file that cannot be read or is wrong. */
#define ZARVIK_E_ARGUMENT 1
/* No reply came within the line's response time. */
#define ZARVIK_E_NO_REPLY 2
/* The device cannot be opened, is not mapped, or failed (hung up, I/O error). */
#define ZARVIK_E_DEVICE 3
/* A reply came but is not a good answer to the request (checksum, length,
   another request's reply, too short for its data). */
#define ZARVIK_E_BAD_REPLY 4
/* The dispenser answered and refused: a start (line result 10), a stop (14),
   a parameter write, any other command (4), a description it does not have. */
#define ZARVIK_E_REFUSED 5
/* zarvik_last_error: the text did not fit the buffer (it was cut). */
#define ZARVIK_E_TRUNCATED 6
/* Anything else (out of memory, an unexpected failure); see the text. */
#define ZARVIK_E_INTERNAL 7

typedef struct zarvik_station zarvik_station;

/* One nozzle of a status poll. litres and money are the nozzle's own
   counters from its reply to this poll (has_values 1); 0 when its reply did
   not carry them (has_values 0). */
typedef struct zarvik_nozzle_status {
    double litres;
    double money;
    uint8_t state;      /* host state code: upper five bits the kind (0xC0 idle, 0xD0, 0xD8, 0xE0, 0xE8) */
    uint8_t has_values; /* 1: litres and money are from this poll */
    uint8_t reserved[6];
} zarvik_nozzle_status;

/* A status poll of one dispenser. record is the driver's 16-byte status
   record as it hands it out (byte 0 the dispenser's state, bytes 2..13 six
   16-bit little-endian nozzle states, byte 14 the nozzle of byte 0's state). */
typedef struct zarvik_dispenser_status {
    uint8_t record[16];
    uint8_t state;        /* the code chosen for the whole dispenser */
    uint8_t state_nozzle; /* state & 7 */
    uint8_t nozzle_count; /* nozzles polled: nozzles[0 .. nozzle_count-1] are filled */
    uint8_t reserved[5];
    zarvik_nozzle_status nozzles[6];
} zarvik_dispenser_status;

/* Counters of one line since the station was made. */
typedef struct zarvik_line_statistics {
    uint64_t exchanges;
    uint64_t good;
    uint64_t bad;
    uint64_t timeouts;
    uint64_t device_errors;
    uint64_t refusals;
    uint64_t reopens;
    uint64_t bytes_sent;
    uint64_t bytes_received;
    uint64_t latency_p50_us;
    uint64_t latency_p95_us;
    uint64_t latency_max_us;
} zarvik_line_statistics;

/* Description of a parameter table (command 0x2D). name is UTF-8,
   NUL-terminated. */
typedef struct zarvik_table_info {
    int32_t number;
    int32_t rows;
    int32_t fields;
    char name[124];
} zarvik_table_info;

/* Description of one field of a table (command 0x2E): type code, value width
   in bytes (1..4) and the limits as unsigned numbers of that width. */
typedef struct zarvik_field_info {
    int32_t number;
    int32_t type;
    int32_t size;
    uint32_t low;
    uint32_t high;
    char name[124];
} zarvik_field_info;

/* --- the error text ---
   Copies the calling thread's last error text (UTF-8, NUL-terminated) into
   buffer. *needed (may be null) receives the whole text's size in bytes with
   its NUL. When size is smaller, the longest prefix of whole characters that
   fits is copied, NUL-terminated, and ZARVIK_E_TRUNCATED is returned (size 0:
   nothing is written; buffer may then be null). An empty text after a call
   that succeeded. This function itself leaves the text as it is. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_last_error(char* buffer, uint32_t size, uint32_t* needed);

/* --- stations and lines --- */
/* A station with no line mapped. options: the driver's options byte (bit 7:
   the price command clears the nozzle first; 0 for none). *station is NULL
   after a failure. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_station_new(int32_t options, zarvik_station** station);
/* A station with the lines, devices, rates and timeouts of a station file. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_station_open_file(const char* path, int32_t options, zarvik_station** station);
/* Closes the lines, releases the driver object and the port service. A null
   station is ZARVIK_OK. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_station_free(zarvik_station* station);
/* Maps a line to a device path (a serial port, or a pseudo-terminal). */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_set_device(zarvik_station* station, int32_t line, const char* path);
/* Response time (first reply byte) and the longest gap inside a reply, in
   milliseconds (1..60000 each); defaults 300 and 50. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_set_timeouts(zarvik_station* station, int32_t line, int32_t response_ms,
                                                     int32_t inter_byte_ms);
/* Opens the line through the driver at 9600 baud (or the station file's rate). */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_line_open(zarvik_station* station, int32_t line);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_line_close(zarvik_station* station, int32_t line);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_line_statistics_get(zarvik_station* station, int32_t line,
                                                            zarvik_line_statistics* statistics);

/* --- dispensers --- */
/* Polls nozzles 1..nozzle_count (1..6) of the dispenser. Not ZARVIK_OK when
   any nozzle's exchange failed or its reply was not good; *status is then
   zeroed. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_poll(zarvik_station* station, int32_t line, int32_t dispenser,
                                             int32_t nozzle_count, zarvik_dispenser_status* status);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_preset_litres(zarvik_station* station, int32_t line, int32_t dispenser,
                                                      int32_t nozzle, double litres);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_preset_money(zarvik_station* station, int32_t line, int32_t dispenser,
                                                     int32_t nozzle, double money);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_set_price(zarvik_station* station, int32_t line, int32_t dispenser,
                                                  int32_t nozzle, double price);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_start(zarvik_station* station, int32_t line, int32_t dispenser, int32_t nozzle);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_stop(zarvik_station* station, int32_t line, int32_t dispenser, int32_t nozzle);
/* Back to idle, and a stop sent for the nozzle. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_reset(zarvik_station* station, int32_t line, int32_t dispenser, int32_t nozzle);
/* The nozzle's total in litres (command 0x9B). */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_total(zarvik_station* station, int32_t line, int32_t dispenser,
                                                   int32_t nozzle, double* litres);

/* --- parameters and descriptions ---
   code = 1000000 + table * 10000 + row * 100 + field. A write is a field
   description exchange and then the write. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_parameter(zarvik_station* station, int32_t line, int32_t address,
                                                       int32_t code, int32_t* value);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_write_parameter(zarvik_station* station, int32_t line, int32_t address,
                                                        int32_t code, int32_t value);
/* ZARVIK_E_REFUSED when the dispenser has no such table or field. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_table_info(zarvik_station* station, int32_t line, int32_t address,
                                                        int32_t table, zarvik_table_info* info);
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_read_field_info(zarvik_station* station, int32_t line, int32_t address,
                                                        int32_t table, int32_t field, zarvik_field_info* info);

/* --- the driver ---
   The driver information text ("v2.50#...") as UTF-8; buffer, size and
   needed as for zarvik_last_error (ZARVIK_E_TRUNCATED when cut). */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_driver_info(zarvik_station* station, char* buffer, uint32_t size,
                                                    uint32_t* needed);
/* The driver's capability answer for kind: *known 1 with *value set, or
 *known 0 with *value untouched. */
ZARVIK_C_API int32_t ZARVIK_CALL zarvik_query_capability(zarvik_station* station, uint32_t kind, int32_t* known,
                                                         int32_t* value);

#ifdef __cplusplus
}
#endif

#endif /* ZARVIK_ZARVIK_C_H */
