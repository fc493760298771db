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
#include <string>
#include <string_view>

namespace zarvik::service {

class JsonText {
public:
    JsonText& Open();  // {
    JsonText& Close();
    JsonText& OpenArray();  // [
    JsonText& CloseArray();
    JsonText& Key(std::string_view key);
    JsonText& String(std::string_view text);
    JsonText& Integer(std::int64_t value);
    JsonText& Unsigned(std::uint64_t value);
    JsonText& Number(double value);
    JsonText& Bool(bool value);
    JsonText& Null();
    JsonText& Raw(std::string_view value);  // a value already JSON text (as JsonText wrote it)

    void Reserve(std::size_t bytes) { text_.reserve(bytes); }
    const std::string& Text() const { return text_; }
    std::string Take() { return std::move(text_); }

private:
    void Separate();  // a comma unless the value or key opens its container or follows its key
    std::string text_;
};

// S as a JSON string, quoted, appended to OUT.
void AppendJsonString(std::string& out, std::string_view s);

}  // namespace zarvik::service
