// The group data file reader, driven the way the load command drives it, the scrambling
// and what a save of the loaded Items reads back as.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "SavedForms.h"
#include "exchange/core/GroupDataFile.h"
#include "model/Errors.h"
#include "model/MainDataFile.h"
#include "model/Text.h"

using namespace quorvel;

namespace {

constexpr int kYear = 2026;

FormatSettings pointDayFirst() {
    FormatSettings fs;
    fs.shortDateFormat = "dd/mm/yyyy";
    fs.dateSeparator = '.';
    return fs;
}

FormatSettings commaMonthFirst() {
    FormatSettings fs;
    fs.shortDateFormat = "mm/dd/yyyy";
    fs.shortTimeFormat = "hh:nn AMPM";
    fs.decimalSeparator = ',';
    return fs;
}

double when(const std::string& text, const FormatSettings& fs) {
    const auto v = parseDateTime(text, fs, kYear);
    if (!v) fuzzcheck::fail("LastDone is date-time text", __FILE__, __LINE__, fuzzcheck::shown(text));
    return *v;
}

void checkText(const std::string& s) {
    if (!isValidUtf8(s)) fuzzcheck::fail("read text is UTF-8", __FILE__, __LINE__, fuzzcheck::shown(s));
}

// The blocks the load command would add: a duplicate name is skipped (as when the user
// declines to rename it) and a conversion error ends the load, keeping what came before.
std::vector<Rec> readAll(GroupFileReader& r, FormatSettings& fs) {
    std::vector<Rec> out;
    std::int64_t blocks = 0;
    try {
        blocks = std::int64_t{r.announcedBlocksMinusOne()} + 1;
    } catch (const ConvertError&) {
        return out;
    }
    std::set<std::string> names;
    // Past the end every block reads as empty and fails on its day number; stopping at the
    // end keeps a count of two thousand million from running that long.
    for (std::int64_t pass = 0; pass < blocks && !r.atEnd(); ++pass) {
        const std::string name = r.blockName();
        if (names.count(name)) {
            r.skipBlock();
            continue;
        }
        try {
            out.push_back(r.readBlockRest(fs));
        } catch (const QuorvelError&) {  // a bad number or date, or a block cut short
            break;
        }
        FUZZ_CHECK_EQ_TEXT(out.back().Name, name);
        names.insert(name);
    }
    return out;
}

// The imported Items as the next start finds them, after the data file was saved: the
// group name and every field arrive without shifting the file's layout.
void checkSavedIntoDataFile(const std::string& groupName, const std::vector<Rec>& imported,
                            const FormatSettings& fs) {
    GroupTable groups;
    groups.add(groupName, 1);
    ItemList items;
    for (const Rec& r : imported) {
        auto rec = std::make_unique<Rec>(r);
        rec->Groups = ",1,";
        items.append(std::move(rec));
    }
    std::string saved;
    try {
        saved = writeMainData(groups, items, fs, kYear);
    } catch (const ConvertError& e) {
        fuzzcheck::fail("imported Items save", __FILE__, __LINE__, e.what());
    }
    FormatSettings fs2 = fs;
    MainDataReadContext ctx;
    ctx.fs = &fs2;
    ctx.currentYear = kYear;
    const MainDataLoad load = readMainData(saved, ctx);
    using namespace savedform;
    FUZZ_CHECK(load.clean());
    FUZZ_CHECK(load.groups.size() == 1);
    FUZZ_CHECK_EQ_TEXT(load.groups[0].GroupName, oneLine(groupName, " "));
    FUZZ_CHECK(load.items.size() == imported.size());
    for (std::size_t i = 0; i < imported.size(); ++i) {
        const Rec& a = imported[i];
        const Rec& b = *load.items[i];
        FUZZ_CHECK_EQ_TEXT(b.Name, oneLine(a.Name, " "));
        FUZZ_CHECK_EQ_TEXT(b.Site, oneLine(a.Site, " "));
        FUZZ_CHECK_EQ_TEXT(b.Keys, oneLine(a.Keys, "{enter}"));
        FUZZ_CHECK_EQ_TEXT(b.Comments, commentLines(a.Comments));
        FUZZ_CHECK_EQ_TEXT(b.Groups, ",1,");
        FUZZ_CHECK(b.RepeatDays == a.RepeatDays && b.EntryCount == a.EntryCount);
    }
}

void roundTrip(const std::string& bytes, const FormatSettings& settings) {
    FormatSettings fs = settings;
    GroupFileReader reader(bytes);
    const std::string groupName = reader.proposedGroupName();
    checkText(groupName);
    FUZZ_CHECK(charCount(groupName) <= 255);
    const std::vector<Rec> first = readAll(reader, fs);

    std::vector<const Rec*> items;
    for (const Rec& r : first) {
        for (const std::string* s : {&r.Name, &r.Site, &r.Keys, &r.Comments, &r.LastDone})
            checkText(*s);
        FUZZ_CHECK(r.Groups.empty());
        items.push_back(&r);
    }
    std::string saved;
    try {
        saved = writeGroupFile(groupName, items, true, fs, kYear);
    } catch (const ConvertError& e) {
        fuzzcheck::fail("what loaded saves", __FILE__, __LINE__, e.what());
    }

    FormatSettings fs2 = settings;
    GroupFileReader again(saved);
    FUZZ_CHECK(again.headerValid());
    FUZZ_CHECK_EQ_TEXT(again.proposedGroupName(), groupName);
    FUZZ_CHECK(std::int64_t{again.announcedBlocksMinusOne()} + 1 ==
               static_cast<std::int64_t>(first.size()));
    for (const Rec& a : first) {
        FUZZ_CHECK_EQ_TEXT(again.blockName(), a.Name);
        Rec b;
        try {
            b = again.readBlockRest(fs2);
        } catch (const QuorvelError& e) {
            fuzzcheck::fail("a saved block reads back", __FILE__, __LINE__, e.what());
        }
        FUZZ_CHECK_EQ_TEXT(b.Site, a.Site);
        FUZZ_CHECK_EQ_TEXT(b.Keys, a.Keys);
        FUZZ_CHECK_EQ_TEXT(b.Comments, a.Comments);
        FUZZ_CHECK(b.RepeatDays == a.RepeatDays);
        FUZZ_CHECK(b.EntryCount == a.EntryCount);
        // Stored to 1/1000 of a day and shown to the minute.
        const double drift = std::fabs(when(b.LastDone, fs2) - when(a.LastDone, fs));
        if (!(drift <= 0.0005 + 1.0 / 1440 + 1e-9))
            fuzzcheck::fail("LastDone survives a save", __FILE__, __LINE__,
                            "'" + a.LastDone + "' became '" + b.LastDone + "'");
    }
    FUZZ_CHECK(again.atEnd());

    checkSavedIntoDataFile(groupName, first, fs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(Crypt(Crypt(bytes)) == bytes);
    roundTrip(bytes, pointDayFirst());
    roundTrip(bytes, commaMonthFirst());
    return 0;
}
