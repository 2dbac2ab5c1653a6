#include "app/core/IniFile.h"

#include "model/Numbers.h"
#include "model/Text.h"

namespace quorvel {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool isSectionLine(std::string_view line, std::string* name) {
    const std::string_view t = trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) return false;
    if (name) *name = std::string(trim(t.substr(1, close - 1)));
    return true;
}

// A value is one line of the file: a break inside it would start a line of its own, read
// back as another key or even a section.  Each break is written as a blank.
std::string oneLine(std::string_view value) {
    if (value.find_first_of("\r\n") == std::string_view::npos) return std::string(value);
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            out += ' ';
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}

}  // namespace

void IniFile::parse(std::string_view bytes) {
    lines_.clear();
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t j = bytes.find_first_of("\r\n", i);
        if (j == std::string_view::npos) j = bytes.size();
        lines_.push_back(decodeLine(bytes.substr(i, j - i)));
        if (j < bytes.size() && bytes[j] == '\r' && j + 1 < bytes.size() && bytes[j + 1] == '\n')
            ++j;
        i = j + 1;
    }
}

std::string IniFile::bytes() const {
    std::string out;
    for (const auto& l : lines_) out += l + "\r\n";
    return out;
}

long IniFile::findKey(std::string_view section, std::string_view key, long* sectionEnd) const {
    bool in = false;
    long end = -1;
    for (long i = 0; i < static_cast<long>(lines_.size()); ++i) {
        std::string name;
        if (isSectionLine(lines_[i], &name)) {
            if (in) break;
            in = equalsIgnoreAsciiCase(name, section);
            if (in) end = i + 1;
            continue;
        }
        if (!in) continue;
        const std::string_view l = lines_[i];
        const std::string_view t = trim(l);
        if (t.empty() || t.front() == ';') continue;
        end = i + 1;
        const std::size_t eq = l.find('=');
        if (eq != std::string_view::npos && equalsIgnoreAsciiCase(trim(l.substr(0, eq)), key)) {
            if (sectionEnd) *sectionEnd = end;
            return i;
        }
    }
    if (sectionEnd) *sectionEnd = end;
    return -1;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view def) const {
    const long i = findKey(section, key, nullptr);
    if (i < 0) return std::string(def);
    const std::string& l = lines_[i];
    std::string_view v = trim(std::string_view(l).substr(l.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return charLeft(v, 2047);
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key,
                                  std::int32_t def) const {
    const std::string s = readString(section, key, "");
    const IntegerRead r = quorvel::readInteger(s);
    return r.ok ? r.value : def;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    long end = -1;
    const long i = findKey(section, key, &end);
    const std::string line = std::string(key) + "=" + oneLine(value);
    if (i >= 0) {
        lines_[i] = line;
    } else if (end >= 0) {
        lines_.insert(lines_.begin() + end, line);
    } else {
        if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(line);
    }
}

}  // namespace quorvel
