// version_resource_check LIBRARY [PROGRAM...]: reads the version resources
// of binaries beside this program the way hosts do (GetFileVersionInfoW,
// VerQueryValueW) and prints every field that is not what it must be.
//
// LIBRARY (ZarvikTrk.dll) carries the library's fixed identity: file and
// product version 1.0.0.35, the product-version text "1.0.0.0", the
// file-version text "1.0.0.35" and every descriptive string present and empty.
// Each PROGRAM carries the project's own version (ZARVIK_VERSION) in numbers
// and texts, its own file name and non-empty descriptions.
// Exit status 0 when everything holds, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

int failures = 0;

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void fail(const std::wstring& file, const std::string& what) {
    std::printf("%s: %s\n", utf8(file).c_str(), what.c_str());
    ++failures;
}

// One node of the resource's tree: wLength, wValueLength, wType, the key
// (NUL-terminated UTF-16), padding to 4 bytes, the value, padding, children.
struct Node {
    std::wstring key;
    const BYTE* children;
    const BYTE* end;
};

size_t align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

bool readNode(const BYTE* at, const BYTE* limit, Node& node) {
    if (limit - at < 6) return false;
    WORD length, valueLength, type;
    std::memcpy(&length, at, 2);
    std::memcpy(&valueLength, at + 2, 2);
    std::memcpy(&type, at + 4, 2);
    if (length < 6 || length > limit - at) return false;
    node.end = at + length;
    size_t offset = 6;
    for (;; offset += 2) {
        if (at + offset + 2 > node.end) return false;
        wchar_t c;
        std::memcpy(&c, at + offset, 2);
        if (c == 0) break;
        node.key += c;
    }
    offset = align4(offset + 2);
    offset = align4(offset + (type == 1 ? valueLength * 2u : valueLength));
    node.children = at + offset > node.end ? node.end : at + offset;
    return true;
}

std::vector<Node> childrenOf(const Node& parent) {
    std::vector<Node> out;
    for (const BYTE* at = parent.children; at < parent.end;) {
        Node child;
        if (!readNode(at, parent.end, child)) break;
        out.push_back(child);
        at += align4(child.end - at);
    }
    return out;
}

// The keys of the string table named `table` ("041904E3"), read from the
// raw block: VerQueryValueW can look a key up but cannot list them.
std::vector<std::wstring> stringKeys(const std::vector<BYTE>& block, const std::wstring& table) {
    std::vector<std::wstring> keys;
    Node root;
    if (!readNode(block.data(), block.data() + block.size(), root)) return keys;
    for (const Node& info : childrenOf(root)) {
        if (info.key != L"StringFileInfo") continue;
        for (const Node& t : childrenOf(info))
            if (_wcsicmp(t.key.c_str(), table.c_str()) == 0)
                for (const Node& s : childrenOf(t)) keys.push_back(s.key);
    }
    return keys;
}

std::wstring besideMe(const std::wstring& name) {
    wchar_t self[MAX_PATH];
    DWORD size = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, size);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

using Strings = std::map<std::wstring, std::wstring>;

// Checks `file`'s fixed version (major.minor.build.revision as two words
// each) and returns its strings, or fails and returns nothing.
bool readResource(const std::wstring& file, DWORD versionMS, DWORD versionLS, Strings& strings) {
    std::wstring path = besideMe(file);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) {
        fail(file, "no version resource (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        fail(file, "GetFileVersionInfoW failed");
        return false;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed ||
        fixed->dwSignature != 0xFEEF04BD) {
        fail(file, "no fixed file information");
        return false;
    }
    char numbers[200];
    std::snprintf(numbers, sizeof numbers, "file %08lX.%08lX product %08lX.%08lX, expected %08lX.%08lX",
                  fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                  versionMS, versionLS);
    if (fixed->dwFileVersionMS != versionMS || fixed->dwFileVersionLS != versionLS ||
        fixed->dwProductVersionMS != versionMS || fixed->dwProductVersionLS != versionLS)
        fail(file, std::string("version numbers ") + numbers);

    // One translation; its string table holds the texts.
    WORD* translation = nullptr;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length != 4) {
        fail(file, "not exactly one translation (" + std::to_string(length / 4) + ")");
        return false;
    }
    wchar_t table[16];
    swprintf(table, 16, L"%04X%04X", translation[0], translation[1]);
    for (const std::wstring& key : stringKeys(block, table)) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + key;
        wchar_t* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars)) {
            fail(file, "string " + utf8(key) + " listed but not found");
            continue;
        }
        strings[key] = chars && value ? std::wstring(value) : std::wstring();
    }
    return true;
}

void expectStrings(const std::wstring& file, const Strings& actual, const Strings& expected) {
    for (const auto& [key, value] : expected) {
        auto found = actual.find(key);
        if (found == actual.end())
            fail(file, "string " + utf8(key) + " missing");
        else if (found->second != value)
            fail(file, "string " + utf8(key) + " is \"" + utf8(found->second) + "\", expected \"" + utf8(value) + "\"");
    }
    for (const auto& [key, value] : actual)
        if (!expected.count(key)) fail(file, "unexpected string " + utf8(key) + " \"" + utf8(value) + "\"");
}

void checkLibrary(const std::wstring& file) {
    Strings strings;
    if (!readResource(file, 0x00010000, 0x00000023, strings)) return;
    expectStrings(file, strings,
                  {{L"Comments", L""},
                   {L"CompanyName", L""},
                   {L"FileDescription", L""},
                   {L"FileVersion", L"1.0.0.35"},
                   {L"InternalName", L""},
                   {L"LegalCopyright", L""},
                   {L"LegalTrademarks", L""},
                   {L"OriginalFilename", L""},
                   {L"ProductName", L""},
                   {L"ProductVersion", L"1.0.0.0"}});
}

void checkProgram(const std::wstring& file) {
    Strings strings;
    if (!readResource(file, MAKELONG(ZARVIK_VERSION_MINOR, ZARVIK_VERSION_MAJOR),
                      MAKELONG(ZARVIK_VERSION_TWEAK, ZARVIK_VERSION_PATCH), strings))
        return;
    // Descriptions differ per program: each must be there and say something.
    Strings expected = {{L"FileVersion", ZARVIK_VERSION},
                        {L"ProductVersion", ZARVIK_VERSION},
                        {L"OriginalFilename", file},
                        {L"CompanyName", strings[L"CompanyName"]},
                        {L"FileDescription", strings[L"FileDescription"]},
                        {L"InternalName", strings[L"InternalName"]},
                        {L"LegalCopyright", strings[L"LegalCopyright"]},
                        {L"ProductName", strings[L"ProductName"]}};
    expectStrings(file, strings, expected);
    for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"InternalName", L"LegalCopyright", L"ProductName"})
        if (strings[key].empty()) fail(file, "string " + utf8(key) + " is empty");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: version_resource_check LIBRARY [PROGRAM...]\n");
        return 2;
    }
    // (File names are plain ASCII.)
    checkLibrary(std::wstring(argv[1], argv[1] + std::strlen(argv[1])));
    for (int i = 2; i < argc; ++i) checkProgram(std::wstring(argv[i], argv[i] + std::strlen(argv[i])));
    std::printf("%s\n", failures ? "version resources: FAILED" : "version resources: as expected");
    return failures ? 1 : 0;
}
