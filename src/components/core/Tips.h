// Tips of the day: tip types (caption and header of the tip window), the tips, the
// rule that picks the next unshown tip, and the program's own twenty tips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/Errors.h"

namespace quorvel {

// The failures of choosing and showing a tip; the tip window shows an apology for them.
class ETipOfTheDay : public QuorvelError {
public:
    using QuorvelError::QuorvelError;
};

// Objects that can take over another one's contents; a source of a different kind
// is refused.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    virtual void Assign(const TPersistent& source) = 0;
};

// A tip type name: at most 8 characters, lower-cased when set.
std::string tipTypeName(const std::string& name);

class TTipType : public TPersistent {
public:
    TTipType() = default;
    TTipType(const std::string& name, std::string caption, std::string header);
    void Assign(const TPersistent& source) override;

    const std::string& Name() const { return name_; }
    void setName(const std::string& name) { name_ = tipTypeName(name); }
    std::string Caption;  // the tip window's caption while a tip of this type shows
    std::string Header;   // the bold line above the tip

private:
    std::string name_;
};

class TTip : public TPersistent {
public:
    TTip() = default;
    TTip(const std::string& tipType, std::string tip, std::int32_t helpContext = 0);
    void Assign(const TPersistent& source) override;

    const std::string& TipType() const { return tipType_; }
    void setTipType(const std::string& name) { tipType_ = tipTypeName(name); }
    std::string Tip;
    std::int32_t HelpContext = 0;
    // Lasts for the run only: every start begins with all tips unshown.
    bool Shown = false;

private:
    std::string tipType_;
};

// Picks a number in [0, n) for n > 0.
using RandomSource = std::function<std::size_t(std::size_t n)>;
// Uniform picks from a generator seeded from the clock once per run.
std::size_t programRandom(std::size_t n);

class TTipList : public TPersistent {
public:
    TTipList() = default;
    TTipList(const TTipList& other);
    TTipList& operator=(const TTipList& other);
    // Replaces both lists with copies of the source's types and tips (all unshown).
    void Assign(const TPersistent& source) override;

    std::size_t TypeCount() const { return types_.size(); }
    TTipType& Type(std::size_t i) { return *types_.at(i); }
    const TTipType& Type(std::size_t i) const { return *types_.at(i); }
    std::size_t TipCount() const { return tips_.size(); }
    TTip& Tip(std::size_t i) { return *tips_.at(i); }
    const TTip& Tip(std::size_t i) const { return *tips_.at(i); }

    TTipType& AddType(const std::string& name, const std::string& caption,
                      const std::string& header);
    TTip& AddTip(const std::string& tipType, const std::string& tip, std::int32_t helpContext = 0);
    void Clear();

    // The first type of exactly this name, or none.
    const TTipType* FindType(const std::string& name) const;
    // Up to 101 random picks for an unshown tip, then the first unshown one in order;
    // marks it shown.  Raises ETipOfTheDay when there are no tips or all were shown.
    TTip& ChooseNextTip(const RandomSource& random);

private:
    std::vector<std::unique_ptr<TTipType>> types_;
    std::vector<std::unique_ptr<TTip>> tips_;
};

// What the tip window shows after a failure of the kind ETipOfTheDay.
inline constexpr const char* kTipErrorCaption = "Tip of the day error";
inline constexpr const char* kTipErrorHeader = "I'm very sorry, but...";
std::string tipApologyText(const std::string& failure);

// The program's tips: the one type "tip" and the twenty tips in their order.
TTipList programTips();

}  // namespace quorvel
