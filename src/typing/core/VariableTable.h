// The variable table: "{name}=value" lines in the order the user made them, and the
// variables file that holds them between runs.
//
// Names are compared without regard to case through a caller-supplied comparison, so
// the window can use the same one as its sorted Variables list; then a name the list
// shows as present is also the one the table finds.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

using VariableLines = std::vector<std::string>;
// True when the two texts are equal without regard to case.
using SameTextNoCase = std::function<bool(std::string_view, std::string_view)>;

// Everything before the first "=", or nothing when the line has no "=".
std::optional<std::string_view> variableName(std::string_view line);
// Everything after the first "=" (it may hold more "=" and braces); empty without "=".
std::string_view variableValueOf(std::string_view line);

// Index of the first line whose name matches, if any.  Lines without "=" have no name
// and never match.
std::optional<std::size_t> findVariable(const VariableLines& table, std::string_view name,
                                        const SameTextNoCase& same);
// The value of the first matching line; empty when there is none.
std::string lookupVariable(const VariableLines& table, std::string_view name,
                           const SameTextNoCase& same);
// Replaces the value of the first matching line (keeping the name as that line spells
// it) or appends name=value; an empty value removes the line instead, since an empty
// value is never stored.
void setVariable(VariableLines& table, std::string_view name, std::string_view value,
                 const SameTextNoCase& same);
// Renames the line oldName=its value to newName=the same value; false when there is no
// such line.
bool renameVariable(VariableLines& table, std::string_view oldName, std::string_view newName,
                    const SameTextNoCase& same);
// Removes the first line equal to `line` as a whole (without regard to case); false when
// none is.
bool removeVariableLine(VariableLines& table, std::string_view line, const SameTextNoCase& same);

// The variables file: one table line per text line.  CR LF, a lone CR and a lone LF all
// end a line; a line that is not valid UTF-8 is read as Windows-1252.
VariableLines parseVariablesFile(std::string_view bytes);
// Every line ended by CR LF, the last one too.
std::string writeVariablesFile(const VariableLines& table);

// The variables a first start offers, in the list's sorted order, and their value.
const std::vector<std::string>& defaultVariableNames();
inline constexpr std::string_view kUndefinedValue = "Undefined";

}  // namespace quorvel
