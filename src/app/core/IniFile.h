// Initialisation files as the Windows profile calls treat them: sections and keys match
// without regard to case, a missing file or key gives the default, and writing a key
// keeps every other line of the file, comments included.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(std::string_view bytes) { parse(bytes); }

    void parse(std::string_view bytes);
    std::string bytes() const;

    // Texts are cut to 2047 characters; surrounding blanks and one pair of quotes go.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Decimal (or the edit fields' integer syntax); anything else gives the default.
    std::int32_t readInteger(std::string_view section, std::string_view key,
                             std::int32_t def) const;
    bool readBool(std::string_view section, std::string_view key, bool def) const {
        return readInteger(section, key, def ? 1 : 0) != 0;
    }

    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
        writeString(section, key, std::to_string(value));
    }
    void writeBool(std::string_view section, std::string_view key, bool value) {
        writeString(section, key, value ? "1" : "0");
    }

private:
    // Index of the key's line within the section, or -1; `sectionEnd` gets the line after
    // the section's last key line (or -1 when the section is missing).
    long findKey(std::string_view section, std::string_view key, long* sectionEnd) const;

    std::vector<std::string> lines_;
};

}  // namespace quorvel
