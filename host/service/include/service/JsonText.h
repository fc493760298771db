// An append-only JSON text for the documents served often (the pumps): values
// go straight into one string in document order, the writer places the
// commas. The caller keeps the nesting right (a key before every member of
// an object, every Open closed).
//
// The text means what nlohmann's dump(-1, ' ', false, replace) of the same
// document gives: strings escaped as it does (", \, \b \f \n \r \t by name,
// other control characters as \u00xx, UTF-8 kept as it is, every ill-formed
// UTF-8 sequence replaced by U+FFFD the same way); integers in decimal;
// doubles the shortest text that reads back to the same double, always with
// a fraction or an exponent so that they read back as floating point; a
// double that is not finite is null.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zarvik::service {

class JsonText {
public:
    JsonText& Open();  // {
    JsonText& Close();
    JsonText& OpenArray();  // [
    JsonText& CloseArray();
    JsonText& Key(std::string_view key);  // the caller's own name: ASCII that needs no escape
    JsonText& String(std::string_view text);
    JsonText& Integer(std::int64_t value);
    JsonText& Unsigned(std::uint64_t value);
    JsonText& Number(double value);
    JsonText& Bool(bool value);
    JsonText& Null();
    JsonText& Raw(std::string_view value);  // a value already JSON text (as JsonText wrote it)

    void Reserve(std::size_t bytes);
    std::string_view Text() const { return {text_.data(), used_}; }
    std::string Take();

private:
    // A comma unless the value or key opens its container or follows its key.
    void Separate() {
        if (used_ == 0) return;
        const char last = text_[used_ - 1];
        if (last != '{' && last != '[' && last != ':') Put(',');
    }
    // At least BYTES writable after the text.
    char* Room(std::size_t bytes) {
        if (text_.size() - used_ < bytes) Grow(bytes);
        return text_.data() + used_;
    }
    void Put(std::string_view bytes) {
        std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
        used_ += bytes.size();
    }
    void Put(char c) {
        *Room(1) = c;
        ++used_;
    }
    void Grow(std::size_t bytes);
    void Quoted(std::string_view text);

    std::string text_;  // the text is its first used_ bytes; the rest is room
    std::size_t used_ = 0;
};

}  // namespace zarvik::service
