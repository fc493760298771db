#include "support/FakeDispenser.h"

#include <algorithm>
#include <cstring>

#include "protocol/Frame.h"

namespace zarvik::testing {

namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get(const std::uint8_t* p, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
}

// Finishes a reply whose data (LEN bytes from offset 4) is in place.
std::size_t Seal(std::uint8_t* reply, std::uint8_t sequence, std::uint8_t address, std::uint8_t len) {
    reply[0] = 0x02;
    reply[1] = sequence;
    reply[2] = address;
    reply[3] = len;
    reply[len + 4] = protocol::Xor(reply, 1, len + 3);
    return len + 5u;
}

}  // namespace

FakeNozzle& FakeDispenser::Nozzle(int dispenser, int nozzle) {
    const auto bus = protocol::DispenserAddress(dispenser, nozzle);
    return Nozzle(bus.address, bus.nozzle);
}

std::size_t FakeDispenser::Respond(const std::uint8_t* frame, std::size_t length, std::uint8_t* reply,
                                   std::size_t capacity) {
    if (recordRequests) requests.emplace_back(frame, frame + length);
    std::uint8_t out[256] = {};
    const std::uint8_t seq = frame[1];
    const std::uint8_t address = frame[2];
    const std::uint8_t command = frame[4];
    const std::uint8_t* data = frame + 5;  // bytes after the command code
    out[4] = command;
    std::size_t n = 0;

    switch (command) {
        case protocol::kCmdStatus: {
            FakeNozzle& z = Nozzle(address, data[0]);
            if (z.status == 8 && z.volumeDose > 0) {
                z.volume = std::min(z.volume + kStepPerPoll, z.volumeDose);
                z.money = static_cast<std::uint32_t>(static_cast<std::uint64_t>(z.volume) * z.price / 1000);
                if (z.volume >= z.volumeDose) {
                    z.status = 10;
                    z.total += z.volume;
                }
            }
            Put32(out + 7, z.volume);
            Put32(out + 15, z.money);
            out[31] = z.status;
            out[32] = z.flags;
            n = Seal(out, seq, address, 30);
            break;
        }
        case protocol::kCmdClear:
            ++Nozzle(address, data[0]).clears;
            n = Seal(out, seq, address, 3);
            break;
        case protocol::kCmdStart: {
            FakeNozzle& z = Nozzle(address, data[0]);
            out[5] = z.startAnswer;
            if (z.startAnswer == 0) {
                z.status = 8;
                z.volume = 0;
                z.money = 0;
            }
            n = Seal(out, seq, address, 3);
            break;
        }
        case protocol::kCmdStop: {
            FakeNozzle& z = Nozzle(address, data[0]);
            out[5] = z.stopAnswer;
            if (z.stopAnswer == 0 && z.status == 8) z.status = 10;
            n = Seal(out, seq, address, 3);
            break;
        }
        case protocol::kCmdVolumeDose:
            Nozzle(address, data[0]).volumeDose = Get(data + 1, 4);
            n = Seal(out, seq, address, 12);
            break;
        case protocol::kCmdMoneyDose:
            Nozzle(address, data[0]).moneyDose = Get(data + 1, 4);
            n = Seal(out, seq, address, 12);
            break;
        case protocol::kCmdPrice: {
            FakeNozzle& z = Nozzle(address, data[0]);
            z.coefficient = Get(data + 1, 3);
            z.price = Get(data + 4, 3);
            n = Seal(out, seq, address, 3);
            break;
        }
        case protocol::kCmdTotal:
            Put32(out + 7, Nozzle(address, data[0]).total);
            n = Seal(out, seq, address, 7);
            break;
        case protocol::kCmdReadParameter:
        case protocol::kCmdWriteParameter: {
            const int table = data[0], row = data[1] | data[2] << 8, field = data[3];
            int width = 4;
            auto t = tables.find(table);
            if (t != tables.end() && field >= 1 && field <= static_cast<int>(t->second.fields.size()))
                width = t->second.fields[field - 1].width;
            std::uint32_t& value = values[Key(table, row, field)];
            if (command == protocol::kCmdWriteParameter) {
                out[5] = writeAnswer;
                if (writeAnswer == 0) value = Get(data + 4, static_cast<int>(length) - 10);
                n = Seal(out, seq, address, 3);
            } else {
                for (int i = 0; i < width; ++i) out[6 + i] = static_cast<std::uint8_t>(value >> (8 * i));
                n = Seal(out, seq, address, static_cast<std::uint8_t>(2 + width));
            }
            break;
        }
        case protocol::kCmdTableInfo: {
            auto t = tables.find(data[0]);
            if (t != tables.end()) {
                std::memcpy(out + 6, t->second.name.data(), std::min<std::size_t>(t->second.name.size(), 40));
                out[46] = static_cast<std::uint8_t>(t->second.rows);
                out[47] = static_cast<std::uint8_t>(t->second.rows >> 8);
                out[48] = static_cast<std::uint8_t>(t->second.fields.size());
            }
            n = Seal(out, seq, address, 45);
            break;
        }
        case protocol::kCmdFieldInfo: {
            FakeField f;
            auto t = tables.find(data[0]);
            if (t != tables.end() && data[1] >= 1 && data[1] <= t->second.fields.size())
                f = t->second.fields[data[1] - 1];
            std::memcpy(out + 6, f.name.data(), std::min<std::size_t>(f.name.size(), 40));
            out[46] = f.type;
            out[47] = f.width;
            for (int i = 0; i < f.width && i < 4; ++i) {
                out[48 + i] = static_cast<std::uint8_t>(f.low >> (8 * i));
                out[48 + f.width + i] = static_cast<std::uint8_t>(f.high >> (8 * i));
            }
            n = Seal(out, seq, address, static_cast<std::uint8_t>(44 + 2 * f.width));
            break;
        }
        default:
            return 0;  // unknown command: no reply
    }
    n = std::min(n, capacity);
    std::memcpy(reply, out, n);
    return n;
}

}  // namespace zarvik::testing
