// The exit codes of zarvik-host, one meaning each, for scripts:
//   0 success;
//   1 the exchange failed (ESerialIO, no reply);
//   2 usage error (what the argument parser reports included);
//   3 the dispenser answered but the result is not good (a bad reply, a
//     refused start, stop or write: line result other than 1);
//   4 configuration or port error (a station file, a device that cannot be
//     opened).
#pragma once

namespace zarvik::host {

enum ExitCode : int {
    kExitOk = 0,
    kExitExchangeFailed = 1,
    kExitUsage = 2,
    kExitNotGood = 3,
    kExitConfig = 4,
};

}  // namespace zarvik::host
