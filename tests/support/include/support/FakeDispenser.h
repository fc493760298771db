// An in-process dispenser for driver tests: answers every command the driver
// sends, from plain state the test sets. A started nozzle delivers a fixed
// step per status request until its dose is reached, then reports status 10.
// Responding allocates nothing unless `recordRequests` is on.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zarvik::testing {

struct FakeNozzle {
    std::uint8_t status = 0;       // dispenser status code, reply byte 31
    std::uint8_t flags = 0;        // reply byte 32
    std::uint32_t volume = 0;      // thousandths of a litre
    std::uint32_t money = 0;       // hundredths
    std::uint32_t total = 0;       // thousandths of a litre
    std::uint8_t startAnswer = 0;  // reply byte 5 to 0x97
    std::uint8_t stopAnswer = 0;   // reply byte 5 to 0x96
    std::uint32_t price = 0;       // hundredths
    std::uint32_t coefficient = 0;
    std::uint32_t volumeDose = 0;  // thousandths
    std::uint32_t moneyDose = 0;   // hundredths
    int clears = 0;
};

struct FakeField {
    std::string name;  // code page 1251 bytes
    std::uint8_t type = 0;
    std::uint8_t width = 2;
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

struct FakeTable {
    std::string name;  // code page 1251 bytes
    std::uint16_t rows = 1;
    std::vector<FakeField> fields;
};

class FakeDispenser {
public:
    static constexpr std::uint32_t kStepPerPoll = 2500;  // 2.5 L per status request while delivering

    FakeNozzle& Nozzle(std::uint8_t address, std::uint8_t nozzleByte) { return nozzles_[address][nozzleByte]; }
    FakeNozzle& Nozzle(int dispenser, int nozzle);  // by driver numbering

    std::map<int, FakeTable> tables;                // by table number
    std::map<std::uint32_t, std::uint32_t> values;  // by (table << 24 | row << 8 | field)
    std::uint8_t writeAnswer = 0;                   // reply byte 5 to 0x1E

    bool recordRequests = false;
    std::vector<std::vector<std::uint8_t>> requests;

    static std::uint32_t Key(int table, int row, int field) {
        return static_cast<std::uint32_t>(table) << 24 | static_cast<std::uint32_t>(row) << 8 |
               static_cast<std::uint32_t>(field);
    }

    std::size_t Respond(const std::uint8_t* frame, std::size_t length, std::uint8_t* reply, std::size_t capacity);

private:
    std::array<std::array<FakeNozzle, 16>, 33> nozzles_{};
};

}  // namespace zarvik::testing
