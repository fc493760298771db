// The command line's own small parts: the nearest name for a mistyped word,
// paths pasted into a shell line, the library version from its file name.
#include <gtest/gtest.h>

#include "ShellWord.h"
#include "Suggest.h"
#include "Version.h"

namespace zarvik::host {
namespace {

TEST(Suggest, NearestNameWithinAThirdOfTheWord) {
    const std::vector<std::string> names{"status", "start", "stop", "stats", "--nozzle", "--nozzles", "--port"};
    EXPECT_EQ(Nearest("stauts", names), "status");
    EXPECT_EQ(Nearest("--prot", names), "--port");
    EXPECT_EQ(Nearest("--nozle", names), "--nozzle");
    EXPECT_EQ(Nearest("bogus", names), "");
}

TEST(ShellWord, PathsArePastedSafely) {
    EXPECT_EQ(ShellWord("/var/lib/a-1.json"), "/var/lib/a-1.json");
    EXPECT_EQ(ShellWord("/tmp/my dump's.json"), "'/tmp/my dump'\\''s.json'");
    EXPECT_EQ(ShellWord("$(rm -rf x)"), "'$(rm -rf x)'");
}

TEST(Version, LibraryVersion_IsReadFromTheLoadedFilesName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/lib/libZarvikTrk.so.1.0.0.35", "1.0.0.35"},
        {"build/lib/library/libZarvikTrk.so.1", "1"},
        {"/opt/x.so.d/libZarvikTrk.so", ""},  // ".so." in a folder's name is not the file's version
        {"/usr/lib/libZarvikTrk.so", ""},
        {"ZarvikTrk.dll", ""},
    };
    for (const auto& [file, version] : cases) EXPECT_EQ(LibraryVersionOf(file), version) << file;
}

}  // namespace
}  // namespace zarvik::host
