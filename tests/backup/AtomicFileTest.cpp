// A file written whole or not at all: the old contents stay on every failure
// and no temporary file is left behind.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ParamsTestSupport.h"
#include "backup/AtomicFile.h"

namespace zarvik::host {
namespace {

std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WriteFileAtomically, WritesAndReplacesLeavingOnlyTheFile) {
    const auto folder = testing::ScratchFolder("atomic-write");
    const auto path = folder / "dump.json";
    WriteFileAtomically(path, "first");
    EXPECT_EQ(Contents(path), "first");
    WriteFileAtomically(path, "second, longer");
    EXPECT_EQ(Contents(path), "second, longer");
    EXPECT_EQ(Names(folder), std::vector<std::string>{"dump.json"});
}

TEST(WriteFileAtomically, FailureKeepsWhatWasThereAndLeavesNoTemporaryFile) {
    const auto folder = testing::ScratchFolder("atomic-fail");
    // The target is a folder with something in it: the rename cannot replace it.
    const auto taken = folder / "taken";
    std::filesystem::create_directories(taken / "inside");
    try {
        WriteFileAtomically(taken, "new");
        ADD_FAILURE() << "a folder was replaced";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(taken.string()), std::string::npos) << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_directory(taken / "inside"));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"taken"});

    // A folder that does not exist: nothing is created anywhere.
    EXPECT_THROW(WriteFileAtomically(folder / "absent" / "dump.json", "new"), std::runtime_error);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"taken"});
}

}  // namespace
}  // namespace zarvik::host
