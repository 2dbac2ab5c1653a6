// The variables file reader and writer, and the table operations on what it read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "model/Text.h"
#include "typing/core/VariableTable.h"

using namespace quorvel;

namespace {

const SameTextNoCase same = [](std::string_view a, std::string_view b) {
    return equalsIgnoreAsciiCase(a, b);
};

// One table line is one file line: a break inside it is written as a blank.
VariableLines flattened(VariableLines t) {
    for (std::string& l : t)
        for (char& c : l)
            if (c == '\r' || c == '\n') c = ' ';
    return t;
}

void checkWriteRead(const VariableLines& table) {
    const VariableLines back = parseVariablesFile(writeVariablesFile(table));
    const VariableLines want = flattened(table);
    FUZZ_CHECK(back.size() == want.size());
    for (std::size_t i = 0; i < want.size(); ++i) FUZZ_CHECK_EQ_TEXT(back[i], want[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    VariableLines table = parseVariablesFile(bytes);
    for (const std::string& line : table) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(isValidUtf8(line));
    }
    checkWriteRead(table);

    // Every named line: the first line of its name answers for it.
    for (std::size_t i = 0; i < table.size() && i < 64; ++i) {
        const auto name = variableName(table[i]);
        if (!name) continue;
        const auto at = findVariable(table, *name, same);
        FUZZ_CHECK(at && *at <= i);
        FUZZ_CHECK_EQ_TEXT(lookupVariable(table, *name, same), variableValueOf(table[*at]));
    }

    // Edits with names and values taken from the file: set, rename, remove.
    const std::size_t n = table.size();
    for (std::size_t i = 0; i < n && i < 16; ++i) {
        const auto found = variableName(table[i % table.size()]);
        if (!found) continue;
        const std::string name(*found);
        const std::string value = table[(i * 7 + 3) % table.size()];
        setVariable(table, name, value, same);
        if (!value.empty()) FUZZ_CHECK_EQ_TEXT(lookupVariable(table, name, same), value);
        const std::string renamed = "{" + std::to_string(i) + "}";
        if (renameVariable(table, name, renamed, same) && !findVariable(table, renamed, same))
            fuzzcheck::fail("a renamed line is found by its new name", __FILE__, __LINE__, name);
        (void)removeVariableLine(table, table.empty() ? std::string() : table.front(), same);
        if (table.empty()) break;
    }
    // A value spanning lines, as a pasted text might.
    setVariable(table, "{pasted}", "one\r\ntwo\nthree\rfour", same);
    checkWriteRead(table);
    return 0;
}
