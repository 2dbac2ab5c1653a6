// The main data file reader, and what a save of the loaded Items gives at the next start.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "SavedForms.h"
#include "model/Errors.h"
#include "model/MainDataFile.h"
#include "model/Text.h"

using namespace quorvel;
using namespace savedform;

namespace {

constexpr int kYear = 2026;

FormatSettings dayFirst() {
    FormatSettings fs;
    fs.shortDateFormat = "dd/mm/yyyy";
    fs.shortTimeFormat = "hh:nn";
    return fs;
}

FormatSettings monthFirst() {
    FormatSettings fs;
    fs.shortDateFormat = "m/d/yyyy";
    fs.dateSeparator = '-';
    fs.shortTimeFormat = "h:nn AMPM";
    fs.decimalSeparator = ',';
    fs.twoDigitYearCenturyWindow = 50;
    return fs;
}

MainDataLoad load(const std::string& bytes, FormatSettings& fs, int& reported) {
    MainDataReadContext ctx;
    ctx.fs = &fs;
    ctx.currentYear = kYear;
    ctx.now = encodeDayNumber({2026, 12, 9, 8, 30});
    ctx.onBadItem = [&reported](const std::string&) { ++reported; };
    return readMainData(bytes, ctx);
}

double when(const std::string& text, const FormatSettings& fs) {
    const auto v = parseDateTime(text, fs, kYear);
    if (!v) fuzzcheck::fail("LastDone is date-time text", __FILE__, __LINE__, fuzzcheck::shown(text));
    return *v;
}

void checkText(const std::string& s) {
    if (!isValidUtf8(s)) fuzzcheck::fail("loaded text is UTF-8", __FILE__, __LINE__, fuzzcheck::shown(s));
}

void roundTrip(const std::string& bytes, const FormatSettings& settings) {
    FormatSettings fs = settings;
    int reported = 0;
    const MainDataLoad first = load(bytes, fs, reported);
    FUZZ_CHECK(reported == first.badItems);
    FUZZ_CHECK(first.groups.size() <= static_cast<std::size_t>(GroupTable::kCapacity));
    FUZZ_CHECK(first.groupsNotLoaded.empty() || first.groups.size() == GroupTable::kCapacity);

    GroupTable groups;
    for (const GroupData& g : first.groups) {
        checkText(g.GroupName);
        FUZZ_CHECK(groups.add(g.GroupName, g.GroupNumber) > 0);
    }
    ItemList items;
    for (const auto& rec : first.items) {
        for (const std::string* s : {&rec->Name, &rec->Site, &rec->Groups, &rec->Keys,
                                     &rec->Comments, &rec->LastDone})
            checkText(*s);
        items.append(std::make_unique<Rec>(*rec));
    }

    std::string saved;
    try {
        saved = writeMainData(groups, items, fs, kYear);
    } catch (const ConvertError& e) {
        fuzzcheck::fail("what loaded saves", __FILE__, __LINE__, e.what());
    }

    // The next start reads with the system's settings again.
    FormatSettings fs2 = settings;
    int reported2 = 0;
    const MainDataLoad second = load(saved, fs2, reported2);
    FUZZ_CHECK(second.clean());
    FUZZ_CHECK(second.groups.size() == first.groups.size());
    for (std::size_t k = 0; k < first.groups.size(); ++k) {
        FUZZ_CHECK_EQ_TEXT(second.groups[k].GroupName, oneLine(first.groups[k].GroupName, " "));
        FUZZ_CHECK(second.groups[k].GroupNumber == first.groups[k].GroupNumber);
    }
    FUZZ_CHECK(second.items.size() == first.items.size());
    for (std::size_t i = 0; i < first.items.size(); ++i) {
        const Rec& a = *first.items[i];
        const Rec& b = *second.items[i];
        FUZZ_CHECK_EQ_TEXT(b.Name, oneLine(a.Name, " "));
        FUZZ_CHECK_EQ_TEXT(b.Site, oneLine(a.Site, " "));
        FUZZ_CHECK_EQ_TEXT(b.Groups, oneLine(a.Groups, ""));
        FUZZ_CHECK_EQ_TEXT(b.Keys, oneLine(a.Keys, "{enter}"));
        FUZZ_CHECK_EQ_TEXT(b.Comments, commentLines(a.Comments));
        FUZZ_CHECK(b.RepeatDays == a.RepeatDays);
        FUZZ_CHECK(b.EntryCount == a.EntryCount);
        // Stored to 1/1000 of a day and shown to the minute.
        const double drift = std::fabs(when(b.LastDone, fs2) - when(a.LastDone, fs));
        if (!(drift <= 0.0005 + 1.0 / 1440 + 1e-9))
            fuzzcheck::fail("LastDone survives a save", __FILE__, __LINE__,
                            "'" + a.LastDone + "' became '" + b.LastDone + "'");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    roundTrip(bytes, dayFirst());
    roundTrip(bytes, monthFirst());
    return 0;
}
