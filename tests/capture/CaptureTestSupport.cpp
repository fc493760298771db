#include "CaptureTestSupport.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zarvik::capture::testing {

namespace {

struct ScratchFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zarvik-capture-test-" + std::to_string(static_cast<long>(getpid())));
    ScratchFolder() { std::filesystem::create_directories(path); }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutLe16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

std::string TempPath(const std::string& name) {
    static ScratchFolder folder;
    return (folder.path / name).string();
}

Bytes FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::uint32_t Le32(const Bytes& b, std::size_t offset) {
    return static_cast<std::uint32_t>(b.at(offset)) | static_cast<std::uint32_t>(b.at(offset + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(offset + 2)) << 16 | static_cast<std::uint32_t>(b.at(offset + 3)) << 24;
}

Bytes PcapFile(std::uint32_t linkType, const std::vector<Bytes>& records, std::uint32_t extraOriginalLength) {
    Bytes out;
    PutLe32(out, 0xA1B2C3D4);  // magic: microsecond timestamps
    PutLe16(out, 2);           // version 2.4
    PutLe16(out, 4);
    PutLe32(out, 0);  // time zone
    PutLe32(out, 0);  // accuracy
    PutLe32(out, 65535);
    PutLe32(out, linkType);
    std::uint32_t second = 1;
    for (const Bytes& r : records) {
        PutLe32(out, second++);
        PutLe32(out, 0);
        PutLe32(out, static_cast<std::uint32_t>(r.size()));
        PutLe32(out, static_cast<std::uint32_t>(r.size()) + extraOriginalLength);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes Frame(std::uint8_t sequence, const Bytes& body) {
    Bytes f{0x02, sequence};
    f.insert(f.end(), body.begin(), body.end());
    std::uint8_t x = 0;
    for (std::size_t i = 1; i < f.size(); ++i) x ^= f[i];
    f.push_back(x);
    return f;
}

}  // namespace zarvik::capture::testing
