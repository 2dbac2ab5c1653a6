#include "typing/core/VariableTable.h"

#include "model/Text.h"

namespace quorvel {

std::optional<std::string_view> variableName(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return line.substr(0, eq);
}

std::string_view variableValueOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
}

std::optional<std::size_t> findVariable(const VariableLines& table, std::string_view name,
                                        const SameTextNoCase& same) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto n = variableName(table[i]);
        if (n && same(*n, name)) return i;
    }
    return std::nullopt;
}

std::string lookupVariable(const VariableLines& table, std::string_view name,
                           const SameTextNoCase& same) {
    const auto i = findVariable(table, name, same);
    return i ? std::string(variableValueOf(table[*i])) : std::string();
}

void setVariable(VariableLines& table, std::string_view name, std::string_view value,
                 const SameTextNoCase& same) {
    const auto i = findVariable(table, name, same);
    if (value.empty()) {
        if (i) table.erase(table.begin() + static_cast<std::ptrdiff_t>(*i));
        return;
    }
    std::string line(i ? *variableName(table[*i]) : name);
    line += '=';
    line += value;
    if (i)
        table[*i] = std::move(line);
    else
        table.push_back(std::move(line));
}

namespace {

std::optional<std::size_t> findWholeLine(const VariableLines& table, std::string_view line,
                                         const SameTextNoCase& same) {
    for (std::size_t i = 0; i < table.size(); ++i)
        if (same(table[i], line)) return i;
    return std::nullopt;
}

std::string joinLine(std::string_view name, std::string_view value) {
    std::string line(name);
    line += '=';
    line += value;
    return line;
}

}  // namespace

bool renameVariable(VariableLines& table, std::string_view oldName, std::string_view newName,
                    const SameTextNoCase& same) {
    const std::string value = lookupVariable(table, oldName, same);
    const auto i = findWholeLine(table, joinLine(oldName, value), same);
    if (!i) return false;
    table[*i] = joinLine(newName, value);
    return true;
}

bool removeVariableLine(VariableLines& table, std::string_view line, const SameTextNoCase& same) {
    const auto i = findWholeLine(table, line, same);
    if (!i) return false;
    table.erase(table.begin() + static_cast<std::ptrdiff_t>(*i));
    return true;
}

VariableLines parseVariablesFile(std::string_view bytes) {
    VariableLines lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.push_back(decodeLine(bytes.substr(start, i - start)));
        i += (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < bytes.size()) lines.push_back(decodeLine(bytes.substr(start)));
    return lines;
}

std::string writeVariablesFile(const VariableLines& table) {
    LineWriter out;
    for (const std::string& line : table) {
        // One table line must stay one file line, or the next start would read a
        // stray half as a variable of its own.
        if (line.find_first_of("\r\n") == std::string::npos) {
            out.line(line);
            continue;
        }
        std::string flat = line;
        for (char& c : flat)
            if (c == '\r' || c == '\n') c = ' ';
        out.line(flat);
    }
    return out.take();
}

const std::vector<std::string>& defaultVariableNames() {
    static const std::vector<std::string> names = {
        "{address}",    "{age}",       "{city}",  "{country}", "{email}", "{first name}",
        "{full name}", "{last name}", "{phone}", "{state}",   "{url}",   "{zip}"};
    return names;
}

}  // namespace quorvel
