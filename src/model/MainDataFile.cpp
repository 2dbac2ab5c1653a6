#include "model/MainDataFile.h"

#include <algorithm>

#include "model/Errors.h"
#include "model/Numbers.h"
#include "model/Text.h"

namespace quorvel {

namespace {

constexpr char kEndOfText = '\x1A';

// The byte 1A ends the readable text: inside a value it would hide every line after it
// at the next start.  It has no meaning in these fields (though a group data file can
// bring one in), so it is left out.
std::string storable(const std::string& s) {
    if (s.find(kEndOfText) == std::string::npos) return s;
    std::string out;
    out.reserve(s.size());
    for (const char c : s)
        if (c != kEndOfText) out += c;
    return out;
}

// The layout has one line per field: a line break inside a value would shift every line
// after it, so breaks become the script's Return code or a blank.
std::string oneLine(const std::string& value, const char* breakText) {
    const std::string s = storable(value);
    bool breaks = false;
    for (const char c : s) breaks = breaks || c == '\r' || c == '\n';
    if (!breaks) return s;
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            out += breakText;
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Comment lines are read up to the Item separator: a comment line equal to it would end
// the Item there and have the rest of the comment read as further Items, so such a line
// is written without its final 03.  Lines end where the reader ends them, at CR.
std::string commentLines(const std::string& comments) {
    const std::string s = storable(comments);
    if (s.find(kItemSeparator) == std::string::npos) return s;
    std::string out;
    out.reserve(s.size());
    for (std::size_t start = 0;;) {
        const std::size_t cr = std::min(s.find('\r', start), s.size());
        const bool separator = s.compare(start, cr - start, kItemSeparator) == 0;
        out.append(s, start, cr - start - (separator ? 1 : 0));
        if (cr == s.size()) break;
        std::size_t next = cr + 1;
        if (next < s.size() && s[next] == '\n') ++next;
        out.append(s, cr, next - cr);
        start = next;
    }
    return out;
}

}  // namespace

std::string writeMainData(const GroupTable& groups, const ItemList& items,
                          const FormatSettings& fs, int currentYear) {
    LineWriter w;
    w.line("NumGroups: " + std::to_string(groups.count()));
    for (int k = 1; k <= groups.count(); ++k) {
        w.line("GroupName" + std::to_string(k) + "=" + oneLine(groups.at(k).GroupName, " "));
        w.line("GroupNumber" + std::to_string(k) + "=" + std::to_string(groups.at(k).GroupNumber));
    }
    w.line("Number of items: " + std::to_string(items.size()));
    w.line(kItemSeparator);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Rec& r = items.at(i);
        const double last = toDateTime(r.LastDone, fs, currentYear);
        w.line("Item: " + std::to_string(i + 1));
        w.line("Name: " + oneLine(r.Name, " "));
        w.line("Group: " + oneLine(r.Groups, ""));
        w.line("Site: " + oneLine(r.Site, " "));
        w.line("Keys: " + oneLine(r.Keys, "{enter}"));
        w.line("Last1: " + formatDayNumber(last, fs.decimalSeparator));
        w.line("Freq: " + std::to_string(r.RepeatDays) + "," + std::to_string(r.EntryCount));
        w.line(commentLines(r.Comments));  // its CR LF breaks make several lines
        w.line(kItemSeparator);
    }
    return w.take();
}

namespace {

class Reader {
public:
    Reader(std::string bytes, const MainDataReadContext& ctx) : in_(std::move(bytes)), ctx_(ctx) {}

    std::string line() {
        last_ = decodeLine(in_.readLine());
        return last_;
    }

    MainDataLoad run() {
        std::string first = line();
        std::int32_t count;
        if (startsWith(first, "Number of items:")) {
            count = leadingNumber(charMid(first, 17));
        } else {
            const std::int32_t groups = leadingNumber(charMid(first, 11));
            // Past the end every line reads as empty: a count of two thousand million must
            // not go on reading groups that are not there.
            for (std::int32_t k = 1; k <= groups && !in_.eof(); ++k) readGroup();
            // Counts are read whole: a fixed width would cut 100000 to 10000 and lose Items.
            count = leadingNumber(charMid(line(), 17));
        }
        line();  // the separator
        for (std::int32_t i = 1; i <= count; ++i) {
            if (in_.eof()) break;
            readItem();
        }
        result_.linesLeftUnread = !in_.eof();
        return std::move(result_);
    }

private:
    static std::string afterEquals(const std::string& l) {
        const std::size_t eq = l.find('=');
        return eq == std::string::npos ? l : l.substr(eq + 1);
    }

    void readGroup() {
        GroupData g;
        g.GroupName = afterEquals(line());
        g.GroupNumber = leadingNumber(afterEquals(line()));
        if (static_cast<int>(result_.groups.size()) < GroupTable::kCapacity)
            result_.groups.push_back(std::move(g));
        else
            result_.groupsNotLoaded.push_back(g.GroupName);
    }

    void readItem() {
        auto rec = std::make_unique<Rec>();
        try {
            line();  // "Item: k"
            rec->Name = charMid(line(), 7);
            std::string l = line();
            if (startsWith(l, "Desc: "))
                rec->Comments = charMid(l, 7) + "\r\n";
            else if (startsWith(l, "Group: "))
                rec->Groups = charMid(l, 8);
            rec->Site = charMid(line(), 7);
            l = line();
            if (startsWith(l, "Keys: ")) {
                rec->Keys = charMid(l, 7);
                l = line();
            }
            FormatSettings& fs = *ctx_.fs;
            if (startsWith(l, "Last1: ")) {
                if (l.find(fs.decimalSeparator) == std::string::npos) fs.switchDecimalSeparator();
                const std::string stored = charMid(l, 8, 255);
                const double last = toFloat(stored, fs.decimalSeparator);
                // Outside the years 1 to 9999 the date-time text would not read back, and
                // every later save would fail on this Item.
                if (!isCalendarDayNumber(last)) throw ConvertError::notDateTime(stored);
                rec->LastDone = dateTimeText(last, fs);
            } else {
                rec->LastDone = charMid(l, 7, 255);
                if (!parseDateTime(rec->LastDone, fs, ctx_.currentYear))
                    rec->LastDone = dateTimeText(ctx_.now, fs);
            }
            l = line();
            const std::size_t comma = l.find(',');
            if (comma != std::string::npos) {
                const std::size_t p = charCount(l.substr(0, comma)) + 1;
                rec->EntryCount = leadingNumber(charMid(l, p + 1));
                rec->RepeatDays = leadingNumber(charMid(l, 7, p > 7 ? p - 7 : 0));
            } else {
                rec->RepeatDays = leadingNumber(charMid(l, 7));
                rec->EntryCount = 0;
            }
            // Comment lines up to the separator.  The first line is taken without a break
            // before it even when it is empty, so blank lines at the top survive.
            bool first = rec->Comments.empty();
            l = line();
            while (l != kItemSeparator) {
                if (!first || !rec->Comments.empty()) rec->Comments += "\r\n";
                first = false;
                rec->Comments += l;
                if (in_.eof()) break;
                l = line();
            }
            result_.items.push_back(std::move(rec));
        } catch (const QuorvelError&) {
            ++result_.badItems;
            if (ctx_.onBadItem) ctx_.onBadItem(rec->Name);
            while (last_ != kItemSeparator && !in_.eof()) line();
        }
    }

    LineReader in_;
    const MainDataReadContext& ctx_;
    std::string last_;
    MainDataLoad result_;
};

}  // namespace

MainDataLoad readMainData(std::string bytes, const MainDataReadContext& ctx) {
    return Reader(std::move(bytes), ctx).run();
}

}  // namespace quorvel
