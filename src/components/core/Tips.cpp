#include "components/core/Tips.h"

#include <chrono>
#include <random>

#include "BuildConfig.h"
#include "model/Text.h"

namespace quorvel {

namespace {

constexpr int kRandomPicks = 101;

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string tipTypeName(const std::string& name) { return lowerAscii(charLeft(name, 8)); }

TTipType::TTipType(const std::string& name, std::string caption, std::string header)
    : Caption(std::move(caption)), Header(std::move(header)), name_(tipTypeName(name)) {}

void TTipType::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TTipType*>(&source);
    if (!other) throw QuorvelError("Can only assign another TTipType to a TTipType");
    name_ = other->name_;
    Caption = other->Caption;
    Header = other->Header;
}

TTip::TTip(const std::string& tipType, std::string tip, std::int32_t helpContext)
    : Tip(std::move(tip)), HelpContext(helpContext), tipType_(tipTypeName(tipType)) {}

void TTip::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TTip*>(&source);
    if (!other) throw QuorvelError("Can only assign another TTip to a TTip");
    tipType_ = other->tipType_;
    Tip = other->Tip;
    HelpContext = other->HelpContext;
}

std::size_t programRandom(std::size_t n) {
    static std::mt19937_64 generator(static_cast<std::uint64_t>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(generator);
}

TTipList::TTipList(const TTipList& other) : TPersistent() { Assign(other); }

TTipList& TTipList::operator=(const TTipList& other) {
    Assign(other);
    return *this;
}

void TTipList::Assign(const TPersistent& source) {
    const auto* other = dynamic_cast<const TTipList*>(&source);
    if (!other) throw QuorvelError("Can only assign another TTipList to a TTipList");
    if (other == this) return;  // clearing first would lose everything
    Clear();
    for (const auto& type : other->types_) {
        types_.push_back(std::make_unique<TTipType>());
        types_.back()->Assign(*type);
    }
    for (const auto& tip : other->tips_) {
        tips_.push_back(std::make_unique<TTip>());
        tips_.back()->Assign(*tip);
    }
}

TTipType& TTipList::AddType(const std::string& name, const std::string& caption,
                            const std::string& header) {
    types_.push_back(std::make_unique<TTipType>(name, caption, header));
    return *types_.back();
}

TTip& TTipList::AddTip(const std::string& tipType, const std::string& tip,
                       std::int32_t helpContext) {
    tips_.push_back(std::make_unique<TTip>(tipType, tip, helpContext));
    return *tips_.back();
}

void TTipList::Clear() {
    types_.clear();
    tips_.clear();
}

const TTipType* TTipList::FindType(const std::string& name) const {
    for (const auto& type : types_)
        if (type->Name() == name) return type.get();
    return nullptr;
}

TTip& TTipList::ChooseNextTip(const RandomSource& random) {
    if (tips_.empty()) throw ETipOfTheDay("No tips have been loaded into the Tips property");
    TTip* chosen = nullptr;
    const RandomSource& pick = random ? random : RandomSource(programRandom);
    for (int i = 0; i < kRandomPicks && !chosen; ++i) {
        TTip& tip = *tips_.at(pick(tips_.size()) % tips_.size());
        if (!tip.Shown) chosen = &tip;
    }
    for (std::size_t i = 0; i < tips_.size() && !chosen; ++i)
        if (!tips_[i]->Shown) chosen = tips_[i].get();
    if (!chosen) throw ETipOfTheDay("All tips have been shown already");
    chosen->Shown = true;
    return *chosen;
}

std::string tipApologyText(const std::string& failure) {
    if (startsWith(failure, "A")) return "all available tips have been shown.";
    if (startsWith(failure, "N"))
        return "the programmer forgot to provide the tips you should be reading now.";
    return "due to an error I am unable to show you the next tip of the day.";
}

TTipList programTips() {
    TTipList list;
    list.AddType("tip", "Tip of the day", "Here is something you should know:");
    const std::string tips[] = {
        "You can create a new group by Right clicking on the Group list.",
        "You can Right click on the Items list for a lot of options.",
        "There are keyboard shortcuts for almost all functions Right click on the Items list "
        "to view them.",
        "You can specify what browser to use under the Options Tab.",
        "You should make a backup of your quorvel.dat file just to be sure. ",
        std::string("Comments and suggestions are always welcome at ") + build::kCommentsEmail,
        "Quorvel will automatically remind you when it's the last day you can enter a contest "
        "by changing the icon in the Items list.",
        "The number of entries Quorvel will hold is only limited by the amount of memory your "
        "computer has.",
        "Quorvel can be free because of the advertising banners. Please click on at least one "
        "banner per day. Thank you!",
        "You can right click on the Goto button to open a new browser window.",
        "To add an item, click on the New button. If you are in a group, the item will "
        "automatically be added to that group too.",
        "You can drag and drop a URL from your browser onto the Items list to create a new item "
        "for that URL!",
        "Quorvel can fill out those web forms for you with the Keyfill function!",
        "Click on the Help button to get more information on how to use Quorvel!",
        "Right click on the Keyfill button to enter or edit the info you want to type in.",
        "The Type function supports strings up to 32,000 characters!",
        "You can Load and Save Quorvel Data Files by Right clicking on the Groups List",
        "You can exchange Quorvel Data Files with your friends.",
        "You can use variables in the Type function. Look at the Variables Tab for more "
        "information.",
        "You can download new Quorvel Data Files for free from the tembrook server!",
    };
    for (const std::string& tip : tips) list.AddTip("tip", tip, 0);
    return list;
}

}  // namespace quorvel
