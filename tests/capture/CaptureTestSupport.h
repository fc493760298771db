// Files, frames and hand-made pcap files for the capture tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zarvik::capture::testing {

using Bytes = std::vector<std::uint8_t>;

// A path in a scratch folder of this test process (removed at exit).
std::string TempPath(const std::string& name);
Bytes FileBytes(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
std::uint32_t Le32(const Bytes& bytes, std::size_t offset);

// A microsecond pcap file with the given link type and record data; each
// record claims `extraOriginalLength` more bytes on the wire than it holds.
Bytes PcapFile(std::uint32_t linkType, const std::vector<Bytes>& records, std::uint32_t extraOriginalLength = 0);

// A frame: 02, sequence, then address, LEN and data from `body` (address
// first), then the XOR of everything after the start byte.
Bytes Frame(std::uint8_t sequence, const Bytes& body);

}  // namespace zarvik::capture::testing
