#include "sim/Station.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "Wire.h"
#include "protocol/Cp1251.h"

namespace zarvik::sim {

namespace {

constexpr std::uint8_t kOddDispenser = 1;
constexpr std::uint8_t kEvenDispenser = 2;
constexpr int kEvenFirstByte = 5;

SimClock::duration Seconds(double s) {
    return std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(s));
}

double SecondsBetween(TimePoint from, TimePoint to) { return std::chrono::duration<double>(to - from).count(); }

std::int16_t Coefficient(std::uint32_t raw) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(raw)); }

// Volume really poured for `metered` litres: the meter's own error, then the
// correction the coefficient applies.
double PourFactor(double eps, std::int16_t e) {
    const double meter = 1.0 + eps;
    if (e == 0 || e == -1) return meter;  // e = -1 is never stored (see the write check); no division by zero
    return meter * e / (e + 1.0);
}

std::vector<std::uint8_t> NewReply(const std::uint8_t* request, std::uint8_t len, std::uint8_t result) {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(len) + wire::kFrameOverhead, 0);
    r[0] = wire::kStartByte;
    r[wire::kOffsetSequence] = request[wire::kOffsetSequence];
    r[wire::kOffsetAddress] = request[wire::kOffsetAddress];
    r[wire::kOffsetLen] = len;
    r[wire::kOffsetCommand] = request[wire::kOffsetCommand];
    r[wire::kReplyResult] = result;
    return r;
}

void Seal(std::vector<std::uint8_t>& r) { r.back() = wire::Xor(r.data(), wire::kOffsetSequence, r.size() - 2); }

void PutName(std::vector<std::uint8_t>& r, const std::string& utf8) {
    const std::string cp = cp1251::FromUtf8(utf8);
    const std::size_t n = std::min(cp.size(), wire::kNameSize);
    for (std::size_t i = 0; i < n; ++i) r[wire::kNameOffset + i] = static_cast<std::uint8_t>(cp[i]);
}

}  // namespace

struct NozzleState {
    bool exists = false;
    std::uint8_t dispensers = 0;  // kOddDispenser | kEvenDispenser: who owns this nozzle byte
    std::uint8_t status = kStatusIdle;
    bool lifted = false;
    TimePoint phaseStart{};  // start of the current timed phase
    // The meter: thousandths of a litre and hundredths of money.
    std::uint32_t volume = 0;
    std::uint32_t money = 0;
    std::uint32_t total = 0;
    std::uint32_t totalAtStart = 0;
    double eps = 0.0;
    double factor = 1.0;  // poured / metered of the current or last delivery
    // What the host preset.
    std::uint32_t price = 0;
    std::uint32_t coefficientField = 0;
    std::uint32_t volumeDose = 0;
    std::uint32_t moneyDose = 0;
    // The delivery under way.
    bool moneyTarget = false;
    std::uint32_t target = 0;  // thousandths to deliver
    std::uint32_t moneyTargetValue = 0;
    std::optional<std::uint8_t> forced;
    std::uint8_t forcedFlags = 0;
    std::uint8_t logged = kStatusIdle;  // the status the delivery log last saw
};

struct AddressState {
    std::uint8_t address = 0;
    std::array<NozzleState, kNozzleBytes> nozzles{};
    ParameterStore params;
};

struct Station::Impl {
    DeliveryLog deliveryLog;
    TableSet tables;
    std::vector<AddressState> addresses;
    FaultInjector faults;
    StationStats stats;
    Timing timing;
    bool autoNozzle = true;
    bool clearAfterHangUp = true;

    AddressState* FindAddress(std::uint8_t address) {
        for (auto& a : addresses)
            if (a.address == address) return &a;
        return nullptr;
    }

    NozzleState& At(const StationConfig& config, int dispenser, int nozzle, AddressState** owner = nullptr) {
        if (dispenser < 1 || nozzle < 1 || nozzle > config.nozzlesPerDispenser)
            throw std::out_of_range("no dispenser " + std::to_string(dispenser) + " nozzle " + std::to_string(nozzle));
        AddressState* a = FindAddress(static_cast<std::uint8_t>((dispenser + 1) / 2));
        if (a == nullptr) throw std::out_of_range("no dispenser " + std::to_string(dispenser));
        const int byte = dispenser % 2 == 1 ? nozzle - 1 : nozzle + 4;
        if (owner != nullptr) *owner = a;
        return a->nozzles[static_cast<std::size_t>(byte)];
    }

    static bool Busy(const NozzleState& n) { return n.status != kStatusIdle; }

    // True when another nozzle of a dispenser that owns `byte` is in a delivery.
    static bool DispenserBusy(const AddressState& a, std::size_t byte) {
        const std::uint8_t owners = a.nozzles[byte].dispensers;
        for (std::size_t j = 0; j < a.nozzles.size(); ++j)
            if (j != byte && (a.nozzles[j].dispensers & owners) != 0 && Busy(a.nozzles[j])) return true;
        return false;
    }

    void UpdateMoney(NozzleState& n) const {
        const double money = std::round(static_cast<double>(n.volume) * n.price / 1000.0);
        n.money = static_cast<std::uint32_t>(std::min(money, 4294967295.0));
    }

    void Advance(NozzleState& n, TimePoint now) const {
        for (;;) {
            switch (n.status) {
                case kStatusAuthorised:
                    if (!autoNozzle || now < n.phaseStart + Seconds(timing.authorisedSeconds)) return;
                    n.phaseStart += Seconds(timing.authorisedSeconds);
                    n.lifted = true;
                    n.status = kStatusLifted;
                    continue;
                case kStatusLifted:
                    if (now < n.phaseStart + Seconds(timing.liftedSeconds)) return;
                    n.phaseStart += Seconds(timing.liftedSeconds);
                    n.status = kStatusDelivering;
                    continue;
                case kStatusDelivering:
                case kStatusSlowing: {
                    if (timing.flowLitresPerSecond <= 0.0) return;
                    const double litres = std::max(0.0, SecondsBetween(n.phaseStart, now)) * timing.flowLitresPerSecond;
                    const double thousandths = std::floor(litres * 1000.0 + 1e-6);
                    if (thousandths >= n.target) {
                        n.volume = n.target;
                        n.total = n.totalAtStart + n.volume;
                        if (n.moneyTarget) {
                            n.money = n.moneyTargetValue;
                        } else {
                            UpdateMoney(n);
                        }
                        n.phaseStart += Seconds(n.target / 1000.0 / timing.flowLitresPerSecond);
                        n.status = kStatusFinished;
                        continue;
                    }
                    n.volume = static_cast<std::uint32_t>(thousandths);
                    n.total = n.totalAtStart + n.volume;
                    UpdateMoney(n);
                    n.status =
                        n.target - n.volume <= timing.slowdownLitres * 1000.0 ? kStatusSlowing : kStatusDelivering;
                    return;
                }
                case kStatusFinished:
                case kStatusStopped:
                    if (!autoNozzle || now < n.phaseStart + Seconds(timing.hangUpSeconds)) return;
                    HangUp(n);
                    return;
                default:
                    return;
            }
        }
    }

    void HangUp(NozzleState& n) const {
        n.lifted = false;
        switch (n.status) {
            case kStatusLifted:
                n.status = kStatusAuthorised;
                break;
            case kStatusDelivering:
            case kStatusSlowing:
            case kStatusFinished:
            case kStatusStopped:
                n.status = clearAfterHangUp ? kStatusFinishedHung : kStatusIdle;
                break;
            default:
                break;
        }
    }

    void AdvanceAll(TimePoint now) {
        for (auto& a : addresses)
            for (auto& n : a.nozzles)
                if (n.exists) Advance(n, now);
    }

    static bool Running(std::uint8_t status) {
        return status == kStatusAuthorised || status == kStatusLifted || status == kStatusDelivering ||
               status == kStatusSlowing;
    }

    // Tells the delivery log of every start and end since it was last told.
    void LogDeliveries() {
        for (auto& a : addresses) {
            for (std::size_t byte = 0; byte < a.nozzles.size(); ++byte) {
                NozzleState& n = a.nozzles[byte];
                if (!n.exists || n.logged == n.status) continue;
                const bool was = Running(n.logged);
                n.logged = n.status;
                if (!deliveryLog || was == Running(n.status)) continue;
                const bool even = byte > 5 || (byte == 5 && (n.dispensers & kEvenDispenser) != 0);
                DeliveryRecord record;
                record.dispenser = a.address * 2 - (even ? 0 : 1);
                record.nozzle = even ? static_cast<int>(byte) - 4 : static_cast<int>(byte) + 1;
                record.started = !was;
                record.volume = n.volume;
                record.money = n.money;
                record.total = n.total;
                deliveryLog(record);
            }
        }
    }

    std::uint8_t Start(AddressState& a, std::size_t byte, TimePoint now) {
        NozzleState& n = a.nozzles[byte];
        if (!n.exists) return wire::kResultNoNozzle;
        if (Busy(n) || n.forced || DispenserBusy(a, byte)) return wire::kResultRefused;
        std::uint32_t target = n.volumeDose;
        if (target == 0 && n.moneyDose != 0) {
            if (n.price == 0) return wire::kResultRefused;
            target = static_cast<std::uint32_t>(
                std::min(std::round(static_cast<double>(n.moneyDose) * 1000.0 / n.price), 4294967295.0));
        }
        if (target == 0) return wire::kResultRefused;
        n.moneyTarget = n.volumeDose == 0;
        n.moneyTargetValue = n.moneyDose;
        n.target = target;
        n.volumeDose = 0;
        n.moneyDose = 0;
        n.volume = 0;
        n.money = 0;
        n.totalAtStart = n.total;
        const auto e = a.params.Get(kCoefficientTable, static_cast<int>(byte) + 1, kCoefficientField);
        n.factor = PourFactor(n.eps, Coefficient(e.value_or(0)));
        n.phaseStart = now;
        n.status = n.lifted ? kStatusLifted : kStatusAuthorised;
        return wire::kResultAccepted;
    }

    std::uint8_t Stop(NozzleState& n, TimePoint now) const {
        if (!n.exists) return wire::kResultNoNozzle;
        switch (n.status) {
            case kStatusAuthorised:
            case kStatusLifted:
                if (autoNozzle) n.lifted = false;
                n.status = kStatusIdle;
                break;
            case kStatusDelivering:
            case kStatusSlowing:
                n.status = kStatusStopped;
                n.phaseStart = now;
                break;
            case kStatusFinished:
            case kStatusStopped:
            case kStatusFinishedHung:
                if (autoNozzle) n.lifted = false;
                n.status = kStatusIdle;
                break;
            default:
                break;
        }
        return wire::kResultAccepted;
    }

    // --- the request handler: one handler per command ---

    bool neverEchoes = false;
    using Answer = std::optional<std::vector<std::uint8_t>>;  // nothing: the frame is ignored

    // A well-formed request to one of our addresses.
    struct Request {
        AddressState& address;
        const std::uint8_t* frame;
        std::size_t len;  // LEN of the frame
        TimePoint now;

        std::uint8_t Command() const { return frame[wire::kOffsetCommand]; }
        std::size_t NozzleByte() const { return frame[wire::kOffsetNozzle]; }
    };

    static NozzleState* NozzleAt(AddressState& a, std::size_t byte) {
        return byte < a.nozzles.size() && a.nozzles[byte].exists ? &a.nozzles[byte] : nullptr;
    }

    // The cell a 0x1F/0x1E request names (CellOf).
    struct Cell {
        int table, row, field;
        const FieldSpec* layout;  // the field's width and limits
        std::optional<std::uint32_t> value;
    };

    static bool HasNozzle(std::uint8_t command) {
        switch (command) {
            case wire::kCmdStatus:
            case wire::kCmdClear:
            case wire::kCmdStart:
            case wire::kCmdStop:
            case wire::kCmdVolumeDose:
            case wire::kCmdMoneyDose:
            case wire::kCmdPrice:
            case wire::kCmdTotal:
                return true;
            default:
                return false;
        }
    }

    // The reply to `r` as if it had asked with another command or nozzle
    // byte; only the reads are executed again, the other replies relabelled.
    void AnswerAs(const Request& r, std::uint8_t command, std::size_t nozzleByte, std::vector<std::uint8_t>& bytes) {
        const bool read = command == wire::kCmdStatus || command == wire::kCmdTotal;
        if (read && HasNozzle(r.Command())) {
            std::vector<std::uint8_t> asked(r.frame, r.frame + r.len + wire::kFrameOverhead);
            asked[wire::kOffsetCommand] = command;
            asked[wire::kOffsetNozzle] = static_cast<std::uint8_t>(nozzleByte);
            if (auto other = Execute(Request{r.address, asked.data(), r.len, r.now})) bytes = std::move(*other);
        } else {
            bytes[wire::kOffsetCommand] = command;
            if (HasNozzle(r.Command()) && bytes.size() > wire::kShortNozzle + 1)
                bytes[wire::kShortNozzle] = static_cast<std::uint8_t>(nozzleByte);
        }
        Seal(bytes);
    }

    // The next nozzle byte of the address that has a nozzle.
    void AnswerOtherNozzle(const Request& r, std::vector<std::uint8_t>& bytes) {
        if (!HasNozzle(r.Command())) return;
        std::size_t other = r.NozzleByte();
        for (std::size_t i = 1; i <= r.address.nozzles.size(); ++i) {
            other = (r.NozzleByte() + i) % r.address.nozzles.size();
            if (r.address.nozzles[other].exists) break;
        }
        AnswerAs(r, r.Command(), other, bytes);
    }

    void AnswerOtherCommand(const Request& r, std::vector<std::uint8_t>& bytes) {
        std::uint8_t other = r.Command() == wire::kCmdStart ? wire::kCmdStop : wire::kCmdStart;
        if (r.Command() == wire::kCmdStatus) other = wire::kCmdTotal;
        if (r.Command() == wire::kCmdTotal) other = wire::kCmdStatus;
        AnswerAs(r, other, r.NozzleByte(), bytes);
    }

    Answer Execute(const Request& r) {
        // The commands a dispenser answers: code, the LEN its request needs at
        // least (a shorter one is ignored), its handler.
        struct Entry {
            std::uint8_t code;
            std::size_t minLen;
            Answer (Impl::*handler)(const Request&);
        };
        static constexpr Entry kCommands[] = {
            {wire::kCmdStatus, wire::kLenNozzleRequest, &Impl::HandleStatus},
            {wire::kCmdClear, wire::kLenNozzleRequest, &Impl::HandleClear},
            {wire::kCmdStart, wire::kLenNozzleRequest, &Impl::HandleStart},
            {wire::kCmdStop, wire::kLenNozzleRequest, &Impl::HandleStop},
            {wire::kCmdVolumeDose, wire::kLenVolumeDose, &Impl::HandleDose},
            {wire::kCmdMoneyDose, wire::kLenMoneyDose, &Impl::HandleDose},
            {wire::kCmdPrice, wire::kLenPrice, &Impl::HandlePrice},
            {wire::kCmdTotal, wire::kLenNozzleRequest, &Impl::HandleTotal},
            {wire::kCmdReadParameter, wire::kLenParameterRead, &Impl::HandleRead},
            {wire::kCmdWriteParameter, wire::kLenParameterRead, &Impl::HandleWrite},
            {wire::kCmdTableInfo, wire::kLenTableInfo, &Impl::HandleTableInfo},
            {wire::kCmdFieldInfo, wire::kLenFieldInfo, &Impl::HandleFieldInfo},
        };
        for (const Entry& entry : kCommands) {
            if (entry.code != r.Command()) continue;
            if (r.len < entry.minLen) return std::nullopt;
            return (this->*entry.handler)(r);
        }
        return std::nullopt;  // not a command of ours
    }

    Answer HandleStatus(const Request& r) {
        const std::size_t byte = r.NozzleByte();
        const NozzleState* n = NozzleAt(r.address, byte);
        auto reply = NewReply(r.frame, wire::kLenStatusReply, n ? wire::kResultAccepted : wire::kResultNoNozzle);
        reply[wire::kStatusNozzle] = static_cast<std::uint8_t>(byte);
        if (n != nullptr) {
            wire::PutLe(&reply[wire::kStatusVolume], n->volume, 4);
            wire::PutLe(&reply[wire::kStatusPrice], n->price, 4);
            wire::PutLe(&reply[wire::kStatusMoney], n->money, 4);
            wire::PutLe(&reply[wire::kStatusDose], n->status == kStatusIdle ? n->volumeDose : n->target, 4);
            wire::PutLe(&reply[wire::kStatusTotal], n->total, 4);
            reply[wire::kStatusCode] = n->forced ? *n->forced : n->status;
            reply[wire::kStatusFlags] = n->forced ? n->forcedFlags : (n->lifted ? wire::kFlagNozzleLifted : 0);
        }
        return reply;
    }

    Answer HandleTotal(const Request& r) {
        const std::size_t byte = r.NozzleByte();
        const NozzleState* n = NozzleAt(r.address, byte);
        auto reply = NewReply(r.frame, wire::kLenTotalReply, n ? wire::kResultAccepted : wire::kResultNoNozzle);
        reply[wire::kTotalNozzle] = static_cast<std::uint8_t>(byte);
        if (n != nullptr) wire::PutLe(&reply[wire::kTotalValue], n->total, 4);
        return reply;
    }

    // 0x93 and 0x94: a dose in litres or in money replaces any dose preset before.
    Answer HandleDose(const Request& r) {
        const std::size_t byte = r.NozzleByte();
        NozzleState* n = NozzleAt(r.address, byte);
        const std::uint32_t dose = wire::GetLe(r.frame + wire::kReqDose, 4);
        std::uint8_t result = wire::kResultNoNozzle;
        if (n != nullptr) {
            result = Busy(*n) ? wire::kResultRefused : wire::kResultAccepted;
            if (result == wire::kResultAccepted) {
                n->volumeDose = r.Command() == wire::kCmdVolumeDose ? dose : 0;
                n->moneyDose = r.Command() == wire::kCmdMoneyDose ? dose : 0;
            }
        }
        auto reply = NewReply(r.frame, wire::kLenDoseReply, result);
        reply[wire::kDoseNozzle] = static_cast<std::uint8_t>(byte);
        wire::PutLe(&reply[wire::kDoseValue], dose, 4);
        if (n != nullptr) wire::PutLe(&reply[wire::kDosePrice], n->price, 4);
        return reply;
    }

    // The short reply (LEN 3) of start, stop, clear and price: an injected
    // refusal answers first, then a missing nozzle, then `act`.
    template <typename Act>
    Answer ShortReply(const Request& r, Act act) {
        const std::size_t byte = r.NozzleByte();
        NozzleState* n = NozzleAt(r.address, byte);
        std::uint8_t result;
        if (faults.Refuse(r.Command())) {
            result = wire::kResultRefused;
        } else if (n == nullptr) {
            result = wire::kResultNoNozzle;
        } else {
            result = act(*n, byte);
        }
        auto reply = NewReply(r.frame, wire::kLenShortReply, result);
        reply[wire::kShortNozzle] = static_cast<std::uint8_t>(byte);
        return reply;
    }

    Answer HandleStart(const Request& r) {
        return ShortReply(r, [&](NozzleState&, std::size_t byte) { return Start(r.address, byte, r.now); });
    }

    Answer HandleStop(const Request& r) {
        return ShortReply(r, [&](NozzleState& n, std::size_t) { return Stop(n, r.now); });
    }

    // 0x98 ends a finished or stopped delivery; otherwise it changes nothing.
    Answer HandleClear(const Request& r) {
        return ShortReply(r, [&](NozzleState& n, std::size_t) {
            if (n.status == kStatusFinishedHung || n.status == kStatusFinished || n.status == kStatusStopped)
                Stop(n, r.now);
            return wire::kResultAccepted;
        });
    }

    Answer HandlePrice(const Request& r) {
        return ShortReply(r, [&](NozzleState& n, std::size_t) {
            if (Busy(n)) return wire::kResultRefused;
            n.coefficientField = wire::GetLe(r.frame + wire::kReqCoefficient, 3);
            n.price = wire::GetLe(r.frame + wire::kReqPrice, 3);
            return wire::kResultAccepted;
        });
    }

    Cell CellOf(const Request& r) const {
        Cell cell{};
        cell.table = r.frame[wire::kReqTable];
        cell.row = static_cast<int>(wire::GetLe(r.frame + wire::kReqRow, 2));
        cell.field = r.frame[wire::kReqField];
        cell.layout = r.address.params.Field(cell.table, cell.field);
        cell.value = r.address.params.Get(cell.table, cell.row, cell.field);
        return cell;
    }

    Answer HandleRead(const Request& r) {
        const Cell cell = CellOf(r);
        if (!cell.value) return NewReply(r.frame, wire::kLenParameterBase, wire::kResultNoParameter);
        auto reply = NewReply(r.frame, static_cast<std::uint8_t>(wire::kLenParameterBase + cell.layout->width),
                              wire::kResultAccepted);
        wire::PutLe(&reply[wire::kParameterValue], *cell.value, cell.layout->width);
        return reply;
    }

    // The value's width is what the request carries after the field number.
    std::uint8_t WriteResult(const Request& r, const Cell& cell) {
        const std::size_t width = r.len - wire::kLenParameterRead;
        if (faults.Refuse(r.Command())) return wire::kResultRefused;
        if (!cell.value) return wire::kResultNoParameter;
        if (width < 1 || width > 4) return wire::kResultOutOfLimits;
        const std::uint32_t v = wire::GetLe(r.frame + wire::kReqWriteValue, width);
        const bool badCoefficient =
            cell.table == kCoefficientTable && cell.field == kCoefficientField && Coefficient(v) == -1;
        if (!WithinLimits(*cell.layout, v) || badCoefficient) return wire::kResultOutOfLimits;
        r.address.params.Set(cell.table, cell.row, cell.field, v);
        return wire::kResultAccepted;
    }

    Answer HandleWrite(const Request& r) {
        return NewReply(r.frame, wire::kLenParameterBase, WriteResult(r, CellOf(r)));
    }

    Answer HandleTableInfo(const Request& r) {
        const TableSpec* t = r.address.params.Table(r.frame[wire::kReqTable]);
        if (t == nullptr) return NewReply(r.frame, wire::kLenParameterBase, wire::kResultNoParameter);
        auto reply = NewReply(r.frame, wire::kLenTableReply, wire::kResultAccepted);
        PutName(reply, t->name);
        wire::PutLe(&reply[wire::kTableRows], t->rows, 2);
        reply[wire::kTableFieldCount] = static_cast<std::uint8_t>(t->fields.size());
        return reply;
    }

    Answer HandleFieldInfo(const Request& r) {
        const FieldSpec* f = r.address.params.Field(r.frame[wire::kReqTable], r.frame[wire::kReqFieldInfoField]);
        if (f == nullptr) return NewReply(r.frame, wire::kLenParameterBase, wire::kResultNoParameter);
        auto reply = NewReply(r.frame, static_cast<std::uint8_t>(wire::kLenFieldReplyBase + 2 * f->width),
                              wire::kResultAccepted);
        PutName(reply, f->name);
        reply[wire::kFieldType] = f->type;
        reply[wire::kFieldWidth] = f->width;
        const DescribedLimits limits = Describe(*f);
        wire::PutLe(&reply[wire::kFieldLimits], limits.low, f->width);
        wire::PutLe(&reply[wire::kFieldLimits + f->width], limits.high, f->width);
        return reply;
    }
};

Station::Station(StationConfig config) : config_(std::move(config)), impl_(std::make_unique<Impl>()) {
    config_.nozzlesPerDispenser = std::clamp(config_.nozzlesPerDispenser, 1, kMaxNozzles);
    impl_->tables = DefaultTables(static_cast<std::uint16_t>(config_.nozzlesPerDispenser + kEvenFirstByte));
    impl_->timing = config_.timing;
    impl_->autoNozzle = config_.autoNozzle;
    impl_->clearAfterHangUp = config_.clearAfterHangUp;
    for (const std::uint8_t address : config_.addresses) {
        if (impl_->FindAddress(address) != nullptr) continue;
        AddressState a{address, {}, ParameterStore(&impl_->tables)};
        for (int k = 1; k <= config_.nozzlesPerDispenser; ++k) {
            a.nozzles[static_cast<std::size_t>(k - 1)].dispensers |= kOddDispenser;
            a.nozzles[static_cast<std::size_t>(k + 4)].dispensers |= kEvenDispenser;
        }
        for (auto& n : a.nozzles) {
            n.exists = n.dispensers != 0;
            n.price = config_.price;
            n.total = config_.total;
            n.eps = config_.meterError;
            n.factor = 1.0 + n.eps;
        }
        impl_->addresses.push_back(std::move(a));
    }
}

Station::~Station() = default;

std::optional<Reply> Station::Handle(const std::uint8_t* request, std::size_t length, TimePoint now) {
    std::lock_guard lock(mutex_);
    Impl& s = *impl_;
    AddressState* a = nullptr;
    if (request != nullptr && wire::IsFrame(request, length)) a = s.FindAddress(request[wire::kOffsetAddress]);
    const std::size_t len = a != nullptr ? request[wire::kOffsetLen] : 0;
    if (a == nullptr || len < 1) {
        ++s.stats.ignored;
        return std::nullopt;
    }
    s.AdvanceAll(now);
    auto bytes = s.Execute(Impl::Request{*a, request, len, now});
    s.LogDeliveries();
    if (!bytes) {
        ++s.stats.ignored;
        s.stats.faults = s.faults.Injected();
        return std::nullopt;
    }
    ++s.stats.requests;
    Seal(*bytes);
    Reply reply;
    const FaultMode damage = s.faults.Damage();
    s.stats.faults = s.faults.Injected();
    const Impl::Request r{*a, request, len, now};
    // A dispenser that never echoes (the late-non-echoing fault: some of its
    // replies are also late).
    if (s.neverEchoes || s.faults.Mode() == FaultMode::kLateNonEchoing)
        FaultInjector::Apply(FaultMode::kFixedSequence, *bytes, s.faults.Rng(), s.faults.FixedSequence());
    switch (damage) {
        case FaultMode::kDelay:
            reply.delay = s.faults.Delay();
            break;
        case FaultMode::kDropReply:
            return std::nullopt;
        case FaultMode::kOtherNozzle:
            s.AnswerOtherNozzle(r, *bytes);
            break;
        case FaultMode::kOtherCommand:
            s.AnswerOtherCommand(r, *bytes);
            break;
        case FaultMode::kDuplicate:
            bytes->insert(bytes->end(), bytes->begin(), bytes->end());
            break;
        case FaultMode::kLocalEcho:
            bytes->insert(bytes->begin(), request, request + length);
            break;
        case FaultMode::kRefuseAny:
            // Result 1 and every value byte after the nozzle byte zeroed.
            (*bytes)[wire::kReplyResult] = wire::kResultRefused;
            std::fill(bytes->begin() + static_cast<long>(wire::kReplyResult + 1), bytes->end() - 1, 0);
            if (Impl::HasNozzle(r.Command()) && bytes->size() > wire::kShortNozzle + 1)
                (*bytes)[wire::kShortNozzle] = static_cast<std::uint8_t>(r.NozzleByte());
            Seal(*bytes);
            break;
        case FaultMode::kLateNonEchoing:
            reply.delay = s.faults.Delay();
            break;
        case FaultMode::kNone:
            break;
        default:
            FaultInjector::Apply(damage, *bytes, s.faults.Rng(), s.faults.FixedSequence());
            break;
    }
    ++s.stats.replies;
    reply.bytes = std::move(*bytes);
    return reply;
}

void Station::Advance(TimePoint now) {
    std::lock_guard lock(mutex_);
    impl_->AdvanceAll(now);
    impl_->LogDeliveries();
}

void Station::SetDeliveryLog(DeliveryLog log) {
    std::lock_guard lock(mutex_);
    impl_->deliveryLog = std::move(log);
}

NozzleView Station::Nozzle(int dispenser, int nozzle) const {
    std::lock_guard lock(mutex_);
    const NozzleState& n = impl_->At(config_, dispenser, nozzle);
    NozzleView v;
    v.status = n.forced ? *n.forced : n.status;
    v.lifted = n.lifted;
    v.volume = n.volume;
    v.money = n.money;
    v.price = n.price;
    v.coefficientField = n.coefficientField;
    v.volumeDose = n.volumeDose;
    v.moneyDose = n.moneyDose;
    v.total = n.total;
    v.poured = n.volume / 1000.0 * n.factor;
    return v;
}

double Station::PouredLitres(int dispenser, int nozzle) const { return Nozzle(dispenser, nozzle).poured; }

void Station::SetMeterError(int dispenser, int nozzle, double eps) {
    std::lock_guard lock(mutex_);
    impl_->At(config_, dispenser, nozzle).eps = eps;
}

void Station::SetPrice(int dispenser, int nozzle, std::uint32_t hundredths) {
    std::lock_guard lock(mutex_);
    impl_->At(config_, dispenser, nozzle).price = hundredths;
}

void Station::SetTotal(int dispenser, int nozzle, std::uint32_t thousandths) {
    std::lock_guard lock(mutex_);
    NozzleState& n = impl_->At(config_, dispenser, nozzle);
    n.total = thousandths;
    n.totalAtStart = thousandths - n.volume;
}

bool Station::StartDelivery(int dispenser, int nozzle, double litres, TimePoint now) {
    std::lock_guard lock(mutex_);
    AddressState* a = nullptr;
    NozzleState& n = impl_->At(config_, dispenser, nozzle, &a);
    impl_->AdvanceAll(now);
    if (Impl::Busy(n) || litres <= 0.0 || litres > 4294967.0) return false;
    n.volumeDose = static_cast<std::uint32_t>(std::round(litres * 1000.0));
    n.moneyDose = 0;
    const auto byte = static_cast<std::size_t>(&n - a->nozzles.data());
    const bool started = impl_->Start(*a, byte, now) == wire::kResultAccepted;
    impl_->LogDeliveries();
    return started;
}

void Station::LiftNozzle(int dispenser, int nozzle, TimePoint now) {
    std::lock_guard lock(mutex_);
    NozzleState& n = impl_->At(config_, dispenser, nozzle);
    impl_->AdvanceAll(now);
    n.lifted = true;
    if (n.status == kStatusAuthorised) {
        n.status = kStatusLifted;
        n.phaseStart = now;
    }
}

void Station::HangUpNozzle(int dispenser, int nozzle, TimePoint now) {
    std::lock_guard lock(mutex_);
    NozzleState& n = impl_->At(config_, dispenser, nozzle);
    impl_->AdvanceAll(now);
    impl_->HangUp(n);
}

void Station::ForceStatus(int dispenser, int nozzle, std::optional<std::uint8_t> status, std::uint8_t flags) {
    std::lock_guard lock(mutex_);
    NozzleState& n = impl_->At(config_, dispenser, nozzle);
    n.forced = status;
    n.forcedFlags = flags;
}

void Station::SetTiming(const Timing& timing) {
    std::lock_guard lock(mutex_);
    impl_->timing = timing;
}

std::optional<std::uint32_t> Station::Parameter(std::uint8_t address, int table, int row, int field) const {
    std::lock_guard lock(mutex_);
    const AddressState* a = impl_->FindAddress(address);
    return a == nullptr ? std::nullopt : a->params.Get(table, row, field);
}

bool Station::SetParameter(std::uint8_t address, int table, int row, int field, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    AddressState* a = impl_->FindAddress(address);
    return a != nullptr && a->params.Set(table, row, field, value);
}

void Station::SetFaultRate(FaultMode mode, double rate, std::uint32_t seed) {
    std::lock_guard lock(mutex_);
    impl_->faults.SetRate(mode, rate, seed);
}

void Station::SetFaultNext(FaultMode mode, int count) {
    std::lock_guard lock(mutex_);
    impl_->faults.SetNext(mode, count);
}

void Station::ClearFaults() {
    std::lock_guard lock(mutex_);
    impl_->faults.Clear();
}

void Station::SetFixedSequence(std::uint8_t byte) {
    std::lock_guard lock(mutex_);
    impl_->faults.SetFixedSequence(byte);
}

void Station::SetNeverEchoes(bool never) {
    std::lock_guard lock(mutex_);
    impl_->neverEchoes = never;
}

void Station::SetFaultDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    impl_->faults.SetDelay(delay);
}

StationStats Station::Stats() const {
    std::lock_guard lock(mutex_);
    return impl_->stats;
}

}  // namespace zarvik::sim
