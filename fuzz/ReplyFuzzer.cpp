// Arbitrary reply bytes and lengths through the reply check and every reply
// decoder of the driver. The input's first byte picks the command, the second
// the received length the port service reports; the rest is the reply.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/VM30.h"
#include "support/LoopbackPort.h"
#include "zarvik/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) return 0;
    // One driver for the process (its tables are large); the fields an input
    // can change are put back before each run so inputs stay independent.
    static zarvik::testing::LoopbackPort port;
    static zarvik::TVM30& driver = *new zarvik::TVM30(0, &port);
    port.Answer(input + 2, size - 2, input[1]);
    port.state = 1;
    port.error = 0;
    driver.OptionBit7 = (input[0] & 0x80) != 0;
    driver.lineResult(1) = 1;
    for (int d = 1; d <= zarvik::kDispenserCount; ++d) {
        driver.dispenserState(1, d) = zarvik::kStateIdle;
        driver.selectedNozzle(1, d) = 1;
    }
    try {
        zarvik::TDispenserStatus status{};
        zarvik::TTableInfo table;
        zarvik::TFieldInfo field;
        double value = 0;
        switch (input[0] % 10) {
            case 0:
                driver.GetDispenserStatus(1, 1 + input[0] % 32, 6, status);
                break;
            case 1:
                driver.StartNozzle(1, 2, 3, 0);
                break;
            case 2:
                driver.StopNozzle(1, 2, 3, 1);
                break;
            case 3:
                driver.ReadNozzleTotal(1, 1, 1, value, 0, 0, 0);
                break;
            case 4:
                (void)driver.ReadParameter(1, 1, 1020321);
                break;
            case 5:
                driver.WriteParameter(1, 1, 1020321, 0x12345678);
                break;
            case 6:
                driver.ReadTableInfo(1, 1, 2, table);
                break;
            case 7:
                driver.ReadFieldInfo(1, 1, 2, 21, field);
                break;
            case 8:
                driver.SetNozzlePrice(1, 1, 1, 0, 0, 45.67);
                break;
            default:
                driver.SetVolumeDose(1, 1, 1, 0, 10.0);
                break;
        }
        if (field.DataSize > 4) __builtin_trap();
        if (table.Name.Length > 40 || field.Name.Length > 40) __builtin_trap();
    } catch (const zarvik::Exception&) {
    }
    return 0;
}
