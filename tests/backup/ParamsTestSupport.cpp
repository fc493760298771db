#include "ParamsTestSupport.h"

#include <unistd.h>

#include <cstdio>

namespace zarvik::host::testing {

ParamsDump SmallDump() {
    ParamsDump dump;
    dump.address = 1;
    dump.row = 2;
    DumpTable general{1, "Общие параметры", 3, {}, true};
    general.fields.push_back({1, "Сетевой адрес", 0, 1, 1, 32, 5, true});
    general.fields.push_back({2, "Пароль оператора", 0, 2, 0, 9999, 1234, true});
    general.fields.push_back({3, "Без значения", 0, 0, 0, 0, std::nullopt, true});
    general.fields.push_back({4, "Счётчик пусков", 0, 4, 0, 0xFFFFFFFF, 3000000000, true});
    DumpTable service{2, "Сервисные параметры", 1, {}, true};
    service.fields.push_back({1, "Код доступа", 0, 2, 0, 9999, std::nullopt, true});
    dump.tables = {general, service};
    return dump;
}

std::string Seal(nlohmann::json document) {
    document.erase("checksum");
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", Crc32(document.dump()));
    document["checksum"] = std::string("crc32:") + hex;
    return document.dump(2);
}

std::vector<std::string> Paths(const DumpReading& reading) {
    std::vector<std::string> paths;
    for (const auto& p : reading.problems) paths.push_back(p.path);
    return paths;
}

namespace {

struct Scratch {
    std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("zarvik-params-test-" + std::to_string(static_cast<long>(getpid())));
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

}  // namespace

std::filesystem::path ScratchFolder(const std::string& name) {
    static Scratch scratch;
    const auto folder = scratch.root / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace zarvik::host::testing
