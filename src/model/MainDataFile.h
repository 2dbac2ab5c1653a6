// The main data file "Quorvel.dat": its writer and its reader (three layouts).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/DateTime.h"
#include "model/Model.h"

namespace quorvel {

// 41 hyphens and the control character 03 close the header and every Item.
inline const std::string kItemSeparator = std::string(41, '-') + '\x03';

// The whole file as bytes.  Raises ConvertError when a LastDone does not parse.
std::string writeMainData(const GroupTable& groups, const ItemList& items,
                          const FormatSettings& fs, int currentYear);

struct MainDataLoad {
    std::vector<GroupData> groups;         // at most the table's capacity
    std::vector<std::string> groupsNotLoaded;  // names beyond the table's 50 entries
    std::vector<std::unique_ptr<Rec>> items;
    int badItems = 0;
    bool linesLeftUnread = false;
    bool clean() const { return badItems == 0 && !linesLeftUnread && groupsNotLoaded.empty(); }
};

struct MainDataReadContext {
    FormatSettings* fs = nullptr;  // its decimal separator may be switched
    int currentYear = 2000;
    double now = 0;  // for old-layout dates that do not parse
    // Called for every Item that is skipped, with the name read so far.
    std::function<void(const std::string&)> onBadItem;
};

// Reads the file's bytes.  Lines that are not UTF-8 are taken as Windows-1252.
MainDataLoad readMainData(std::string bytes, const MainDataReadContext& ctx);

}  // namespace quorvel
