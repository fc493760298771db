#include "capture/CaptureReader.h"

#include <pcap/pcap.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace zarvik::capture {

namespace {

struct PcapCloser {
    void operator()(pcap_t* p) const { pcap_close(p); }
};

// libpcap reports a file that ends inside a record (or its header) this way.
bool IsTruncation(const char* error) { return std::strstr(error, "truncated dump file") != nullptr; }

}  // namespace

CaptureFile ReadCapture(const std::string& path) {
    char error[PCAP_ERRBUF_SIZE] = {};
    std::unique_ptr<pcap_t, PcapCloser> pcap(pcap_open_offline(path.c_str(), error));
    if (!pcap) throw std::runtime_error("capture " + path + ": " + error);
    if (pcap_datalink(pcap.get()) != kLinkType)
        throw std::runtime_error("capture " + path + ": link type " + std::to_string(pcap_datalink(pcap.get())) +
                                 ", not a line capture (" + std::to_string(kLinkType) + ")");

    CaptureFile file;
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = pcap_next_ex(pcap.get(), &header, &data);
        if (r == PCAP_ERROR_BREAK) break;  // end of file
        const std::string where = "capture " + path + ", record " + std::to_string(file.records.size() + 1);
        if (r != 1) {
            const char* why = pcap_geterr(pcap.get());
            if (IsTruncation(why)) {
                file.truncated = true;
                break;
            }
            throw std::runtime_error(where + ": " + why);
        }
        if (header->caplen != header->len) throw std::runtime_error(where + ": cut short by the snapshot length");
        if (header->caplen < kHeaderSize) throw std::runtime_error(where + ": no line and direction");
        if (header->caplen > kHeaderSize + kMaxFrameBytes) throw std::runtime_error(where + ": frame too long");
        const std::uint8_t line = data[kHeaderLine];
        const std::uint8_t direction = data[kHeaderDirection];
        if (line < kMinLine || line > kMaxLine) throw std::runtime_error(where + ": line " + std::to_string(line));
        if (direction > static_cast<std::uint8_t>(Direction::Discarded))
            throw std::runtime_error(where + ": direction " + std::to_string(direction));
        CaptureRecord record;
        record.time =
            Timestamp(std::chrono::seconds(header->ts.tv_sec) + std::chrono::microseconds(header->ts.tv_usec));
        record.line = line;
        record.direction = static_cast<Direction>(direction);
        record.bytes.assign(data + kHeaderSize, data + header->caplen);
        file.records.push_back(std::move(record));
    }
    return file;
}

}  // namespace zarvik::capture
