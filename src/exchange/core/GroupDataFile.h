// The group data file (".qdf"): a plain header line, then scrambled lines holding the
// group's name, the block count and one eight-line block per Item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/DateTime.h"
#include "model/Model.h"
#include "model/Text.h"

namespace quorvel {

// The last line of every Item block.
inline constexpr std::string_view kGroupFileEndMarker = "ThisIsTheVeryEndOfTheItemMarker";

// Flips the lowest bit of every byte; its own inverse.
std::string Crypt(std::string_view text);

// "Quorvel Data File. " + the product home page; the only first line a reader accepts.
std::string groupFileHeader();

// The whole file as bytes, so that the caller writes all of it or nothing.  Without
// `includeKeysAndComments` every block gets bare "Keys=" and "Com=" lines.  Raises
// ConvertError when an Item's LastDone is not valid date-time text.
std::string writeGroupFile(std::string_view groupName, const std::vector<const Rec*>& items,
                           bool includeKeysAndComments, const FormatSettings& fs, int currentYear);

// Reads a group data file step by step, so that the load command can ask its questions
// between the steps.  The three header lines are taken at construction; then, once per
// announced block, blockName() followed by either skipBlock() or readBlockRest().
// Past the end of the bytes every line reads as empty.
class GroupFileReader {
  public:
    explicit GroupFileReader(std::string bytes);

    // The first line equals groupFileHeader() exactly.
    bool headerValid() const { return headerValid_; }
    // The group name the file carries (at most 255 characters).
    std::string proposedGroupName() const;
    // The "Number=" value: blocks in the file minus one.  Raises ConvertError when it
    // is not an integer.
    std::int32_t announcedBlocksMinusOne() const;

    // Reads the first line of the next block and returns its Item name.
    std::string blockName();
    // Passes over the rest of the block: up to its end marker or the end of the file.
    void skipBlock();
    // Reads the rest of the block after blockName().  The returned Item carries the
    // block's name; the caller replaces it when the user renamed the Item, and sets
    // Groups.  When the day number lacks fs's decimal separator, that separator is
    // switched first (for the rest of the run).  Raises ConvertError on a bad number.
    Rec readBlockRest(FormatSettings& fs);

    // No bytes are left to read.
    bool atEnd() const { return in_.eof(); }

  private:
    std::string line();

    LineReader in_;
    bool headerValid_ = false;
    std::string nameLine_;
    std::string numberLine_;
    std::string blockName_;
};

}  // namespace quorvel
