// The command-line options of the parameter commands and what their exit
// codes mean.
#include <CLI/CLI.hpp>

#include "ParamsCommands.h"
#include "ParamsDocument.h"

namespace zarvik::host {
namespace {

void AddAttempts(CLI::App& c, ParamsArgs& a) {
    c.add_option("--attempts", a.attempts, "tries per request before a read or a verified write fails")
        ->check(CLI::Range(1, 20))
        ->capture_default_str();
}

}  // namespace

void AddParamWriteOptions(CLI::App& c, ParamsArgs& a) {
    c.add_option("--address,-a", a.address, "bus address")->check(CLI::Range(1, 255))->capture_default_str();
    c.add_option("--code,-c", a.code, "parameter code 1TTRRFF (table, row, field 1..99)")->required();
    c.add_option("VALUE", a.value, "the raw value, a whole number")->required();
    c.add_flag("--force", a.force, "write a value outside the field's limits (never one wider than the field)");
    AddAttempts(c, a);
    c.footer(
        "The field's description is read first; nothing is sent for a value that is not a whole number, is NaN or "
        "an infinity, does not fit the field's width, or lies outside its limits without --force.\n"
        "Exit codes: 0 written (line result 1); 1 no reply; 2 refused before anything was written (bad code or "
        "value, no such table, row or field); 3 the dispenser refused the write or never answered well.");
}

void AddParamsDumpOptions(CLI::App& c, ParamsArgs& a) {
    c.add_option("--address,-a", a.address, "bus address")->check(CLI::Range(1, 255))->capture_default_str();
    c.add_option("--row,-r", a.row, "row")->check(CLI::Range(1, kMaxRow))->capture_default_str();
    c.add_option("--output,-o", a.output,
                 "write the dump to this file (a temporary file beside it, flushed to the disk, renamed when "
                 "complete); default: stdout once complete");
    AddAttempts(c, a);
    c.footer(
        "The dump holds the address, the row, every table and field description (name, type, width, limits), the "
        "row's values and a CRC-32 checksum of its contents. It is complete or not written: each read is tried up "
        "to --attempts times, and a table or field that still cannot be read fails the dump with its name.\n"
        "Exit codes: 0 complete; 1 a read got no reply; 3 a read got no good reply; 4 the file could not be "
        "written.");
}

void AddParamsRestoreOptions(CLI::App& c, ParamsArgs& a) {
    c.add_option("FILE", a.file, "a params-dump file")->required();
    c.add_option("--address,-a", a.targetAddress, "target bus address (default: the file's)")
        ->check(CLI::Range(1, 255));
    c.add_option("--row,-r", a.targetRow, "target row (default: the file's)")->check(CLI::Range(1, kMaxRow));
    c.add_flag("--other-target", a.otherTarget, "restore to an address or row other than the file's");
    c.add_flag("--apply", a.apply, "write the differences after a backup, reading each back");
    c.add_option("--backup", a.backup,
                 "with --apply: the backup of the current values (default: params-aA-rR-backup-TIME.json beside "
                 "FILE)");
    c.add_flag("--force", a.force, "accept values outside their field's limits (never wider than the field)");
    c.add_flag("--ignore-checksum", a.ignoreChecksum,
               "accept a file without its checksum or with a wrong one (an edited dump); every other check stays");
    AddAttempts(c, a);
    c.footer(
        "Before anything is written the whole file is checked and every problem reported with its JSON path: its "
        "size (at most 8 MiB), checksum, address and row against the target, its tables and fields against the "
        "dispenser's own descriptions, every value's type, width and limits. Without --apply only the differences "
        "are shown. With --apply the current values are saved to a backup first; then each difference is written "
        "and read back, and the first that cannot be verified stops the restore with what was written and how to "
        "roll back.\n"
        "Exit codes: 0 checked (with --apply: written and verified); 1 no reply; 3 a read or write did not "
        "succeed; 4 the file cannot be restored (its problems listed) or the backup could not be written.");
}

}  // namespace zarvik::host
