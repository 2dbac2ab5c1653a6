#include "exchange/core/GroupDataFile.h"

#include "BuildConfig.h"
#include "model/Errors.h"
#include "model/Numbers.h"

namespace quorvel {

std::string Crypt(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(c ^ 0x01);
    return out;
}

std::string groupFileHeader() {
    return std::string("Quorvel Data File. ") + build::kHomePage;
}

namespace {

// An ESC byte would be stored as 1A, which every reader takes as the end of the text,
// losing the rest of the file; it has no meaning in these fields, so it is left out.
std::string storable(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value)
        if (c != '\x1B') out += c;
    return out;
}

void scrambled(LineWriter& w, std::string_view key, std::string_view value) {
    std::string text(key);
    text += storable(value);
    w.line(Crypt(text));
}

// A day number outside the years 1 to 9999 gives date-time text that no save reads back,
// so one such Item from a downloaded file would stop every later save of the data file.
double dayNumberOf(const std::string& text, char decimalSeparator) {
    const double v = toFloat(text, decimalSeparator);
    if (!isCalendarDayNumber(v)) throw ConvertError::notDateTime(text);
    return v;
}

}  // namespace

std::string writeGroupFile(std::string_view groupName, const std::vector<const Rec*>& items,
                           bool includeKeysAndComments, const FormatSettings& fs, int currentYear) {
    LineWriter w;
    w.line(groupFileHeader());
    scrambled(w, "Name=", groupName);
    scrambled(w, "Number=", std::to_string(static_cast<long long>(items.size()) - 1));
    for (const Rec* r : items) {
        const double last = toDateTime(r->LastDone, fs, currentYear);
        scrambled(w, "Name=", r->Name);
        scrambled(w, "Url=", r->Site);
        scrambled(w, "Last=", formatDayNumber(last, fs.decimalSeparator));
        scrambled(w, "Freq=", std::to_string(r->RepeatDays));
        scrambled(w, "Num=", std::to_string(r->EntryCount));
        // Line breaks in these two come out as 0C 0B, so each stays on one stored line.
        scrambled(w, "Keys=", includeKeysAndComments ? std::string_view(r->Keys) : "");
        scrambled(w, "Com=", includeKeysAndComments ? std::string_view(r->Comments) : "");
        scrambled(w, "", kGroupFileEndMarker);
    }
    return w.take();
}

GroupFileReader::GroupFileReader(std::string bytes) : in_(std::move(bytes)) {
    headerValid_ = decodeLine(in_.readLine()) == groupFileHeader();
    nameLine_ = line();
    numberLine_ = line();
}

std::string GroupFileReader::line() {
    return decodeLine(Crypt(in_.readLine()));
}

std::string GroupFileReader::proposedGroupName() const {
    return charMid(nameLine_, 6, 255);
}

std::int32_t GroupFileReader::announcedBlocksMinusOne() const {
    return toInteger(charMid(numberLine_, 8, 10));
}

std::string GroupFileReader::blockName() {
    // Kept whole: the writer stores names whole, and a cut name would no longer match.
    blockName_ = charMid(line(), 6);
    return blockName_;
}

void GroupFileReader::skipBlock() {
    while (line() != kGroupFileEndMarker && !in_.eof()) {
    }
}

Rec GroupFileReader::readBlockRest(FormatSettings& fs) {
    Rec r;
    r.Name = blockName_;
    r.Site = charMid(line(), 5);
    const std::string last = charMid(line(), 6, 255);
    // A file made under the other decimal separator switches the program over to it.
    if (last.find(fs.decimalSeparator) == std::string::npos) fs.switchDecimalSeparator();
    r.LastDone = dateTimeText(dayNumberOf(last, fs.decimalSeparator), fs);
    r.RepeatDays = toInteger(charMid(line(), 6, 255));
    r.EntryCount = toInteger(charMid(line(), 5, 255));
    // Scripts and comments are kept whole; a shared script must arrive complete.
    r.Keys = charMid(line(), 6);
    r.Comments = charMid(line(), 5);
    // Lines before the end marker continue the comment: a 0C byte in a comment is
    // stored as CR and splits its line.
    for (;;) {
        const std::string more = line();
        if (more == kGroupFileEndMarker) break;
        r.Comments += more;
        // Every written block ends with its marker: one without it was cut short (a
        // broken download, say), and its script or comment may be missing a part.
        if (in_.eof())
            throw QuorvelError("The file ends inside the item \"" + r.Name +
                               "\", which was not imported.");
    }
    return r;
}

}  // namespace quorvel
