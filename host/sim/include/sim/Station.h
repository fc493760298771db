// A simulated filling station on one serial line: bus addresses, each with two
// dispensers (the odd one at nozzle bytes 0..5, the even one at 5..10; byte 5
// is shared by odd nozzle 6 and even nozzle 1), nozzles with price, dose,
// counters and totals, a delivery state machine over the dispenser status
// codes, the parameter tables of each address and the line's fault injection.
//
// Handle() is the request handler: a function of (request frame, station
// state, now) that returns the reply to put on the wire, or nothing for
// frames a dispenser ignores (bad start byte, length or checksum, unknown
// address or command). Time only moves through the `now` arguments, so tests
// drive the flow with an injected clock.
//
// Delivery, per nozzle (status code at reply byte 31):
//   0 idle -- 0x93/0x94 dose, 0x97 start --> 3 authorised
//   3 -- nozzle lifted (automatically after authorisedSeconds, or LiftNozzle) --> 4
//   4 -- after liftedSeconds the pump runs --> 7 delivering (8 for the last slowdownLitres)
//   7/8 -- dose reached --> 10 finished;  0x96 stop --> 14 stopped
//   10/14 -- nozzle hung up (automatically after hangUpSeconds, or HangUpNozzle)
//            --> 13 finished-and-hung until 0x98 clear (clearAfterHangUp) or 0 idle
//   0x96 on 3/4 cancels to 0; 0x96 or 0x98 on 10/13/14 returns to 0.
// Reply byte 32 bit 3 is set while the nozzle is out of its holder.
// A start is refused (result 1) without a dose, while the nozzle or another
// nozzle of its dispenser is busy, or when a refusal fault fires. Doses and
// prices are refused while the nozzle is busy.
//
// The meters count the ordered volume exactly (a 10 L dose ends at 10.000);
// the volume really poured is V x (1 + eps) with coefficient e = 0 and
// V x (1 + eps) x e / (e + 1) otherwise, e taken at the start from table 2
// field 21 of the nozzle's row as a signed 16-bit number.
//
// Every public member locks the station: the endpoint thread and a test or
// tool thread may call it at the same time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/Faults.h"
#include "sim/ParameterTables.h"

namespace zarvik::sim {

using SimClock = std::chrono::steady_clock;
using TimePoint = SimClock::time_point;

// Dispenser status codes this station produces (others only through ForceStatus).
inline constexpr std::uint8_t kStatusIdle = 0;
inline constexpr std::uint8_t kStatusAuthorised = 3;
inline constexpr std::uint8_t kStatusLifted = 4;
inline constexpr std::uint8_t kStatusDelivering = 7;
inline constexpr std::uint8_t kStatusSlowing = 8;
inline constexpr std::uint8_t kStatusFinished = 10;
inline constexpr std::uint8_t kStatusFinishedHung = 13;
inline constexpr std::uint8_t kStatusStopped = 14;

inline constexpr int kMaxNozzles = 6;
inline constexpr int kNozzleBytes = 11;  // 0..10

struct Timing {
    double authorisedSeconds = 0.5;  // status 3 until the nozzle is lifted (automatic lifting)
    double liftedSeconds = 0.5;      // status 4 until the pump runs
    double flowLitresPerSecond = 2.0;
    double slowdownLitres = 0.5;  // status 8 instead of 7 for the last litres of a dose
    double hangUpSeconds = 1.0;   // status 10/14 until the nozzle is hung up (automatic)
};

struct StationConfig {
    std::vector<std::uint8_t> addresses{1, 2};  // bus addresses; dispensers 2a-1 and 2a on address a
    int nozzlesPerDispenser = 3;                // 1..6
    Timing timing;
    bool autoNozzle = true;        // the customer lifts and hangs up the nozzle by himself
    bool clearAfterHangUp = true;  // finished-and-hung (13) until 0x98; otherwise straight to idle
    double meterError = 0.01;      // eps of every nozzle
    std::uint32_t price = 4567;    // hundredths, every nozzle at start
    std::uint32_t total = 0;       // thousandths, every nozzle at start
};

struct Reply {
    std::vector<std::uint8_t> bytes;     // exactly what goes on the wire
    std::chrono::milliseconds delay{0};  // wait this long before sending (delay fault)
};

// What a test sees of one nozzle.
struct NozzleView {
    std::uint8_t status = 0;  // dispenser status code as the next poll reports it
    bool lifted = false;
    std::uint32_t volume = 0;            // metered, thousandths of a litre
    std::uint32_t money = 0;             // hundredths
    std::uint32_t price = 0;             // hundredths
    std::uint32_t coefficientField = 0;  // last 0x9A coefficient, thousandths
    std::uint32_t volumeDose = 0;        // thousandths, 0 = none
    std::uint32_t moneyDose = 0;         // hundredths, 0 = none
    std::uint32_t total = 0;             // thousandths
    double poured = 0.0;                 // litres really poured by the current or last delivery
};

// A delivery's start or end as the delivery log is told of it: an end is
// the move out of a running status (3, 4, 7, 8) with the counters then.
struct DeliveryRecord {
    int dispenser = 0;
    int nozzle = 0;
    bool started = false;      // false: ended
    std::uint32_t volume = 0;  // thousandths, at the end
    std::uint32_t money = 0;   // hundredths
    std::uint32_t total = 0;   // thousandths
};
using DeliveryLog = std::function<void(const DeliveryRecord&)>;

struct StationStats {
    std::uint64_t requests = 0;  // well-formed frames for one of our addresses
    std::uint64_t ignored = 0;   // frames not answered (bad frame, other address, unknown command)
    std::uint64_t replies = 0;   // replies produced (a dropped reply is not counted)
    std::uint64_t faults = 0;    // faults injected
};

class Station {
public:
    explicit Station(StationConfig config = {});
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The request handler. `request` holds one frame of `length` bytes.
    std::optional<Reply> Handle(const std::uint8_t* request, std::size_t length, TimePoint now);

    // Moves every delivery on to `now` (Handle does this by itself).
    void Advance(TimePoint now);

    // Control interface, by driver numbering (dispenser 1..2 x addresses, nozzle 1..6).
    // Throws std::out_of_range for a dispenser or nozzle the station does not have.
    NozzleView Nozzle(int dispenser, int nozzle) const;
    double PouredLitres(int dispenser, int nozzle) const;
    void SetMeterError(int dispenser, int nozzle, double eps);
    void SetPrice(int dispenser, int nozzle, std::uint32_t hundredths);
    void SetTotal(int dispenser, int nozzle, std::uint32_t thousandths);
    // Presets a dose and starts, as 0x93 + 0x97 would; false when refused.
    bool StartDelivery(int dispenser, int nozzle, double litres, TimePoint now);
    void LiftNozzle(int dispenser, int nozzle, TimePoint now);
    void HangUpNozzle(int dispenser, int nozzle, TimePoint now);
    // Reports `status` (and the given flags byte) until reset with nullopt.
    void ForceStatus(int dispenser, int nozzle, std::optional<std::uint8_t> status, std::uint8_t flags = 0);
    void SetTiming(const Timing& timing);

    // Parameter values by bus address; nullopt / false when the cell or the address does not exist.
    std::optional<std::uint32_t> Parameter(std::uint8_t address, int table, int row, int field) const;
    bool SetParameter(std::uint8_t address, int table, int row, int field, std::uint32_t value);

    // Faults of this line.
    void SetFaultRate(FaultMode mode, double rate, std::uint32_t seed = 1);
    void SetFaultNext(FaultMode mode, int count);
    void ClearFaults();
    void SetFaultDelay(std::chrono::milliseconds delay);
    // The sequence byte of the fixed-sequence fault (a dispenser that never echoes).
    void SetFixedSequence(std::uint8_t byte);
    // A dispenser that never echoes: every reply carries the fixed sequence
    // byte, whatever fault is active besides.
    void SetNeverEchoes(bool never);

    // Told, under the station's lock, of every delivery's start and end.
    void SetDeliveryLog(DeliveryLog log);

    StationStats Stats() const;
    const StationConfig& Config() const { return config_; }

private:
    struct Impl;
    StationConfig config_;
    mutable std::mutex mutex_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zarvik::sim
