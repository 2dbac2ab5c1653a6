// The tip of the day: a small modal window with one randomly chosen tip, opened once
// when the owning window is first shown, with "Next tip" until all tips were shown.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <functional>

#include "components/core/Tips.h"

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

namespace quorvel {

class Dialogs;

// The tip window.  Its client area is 385 x 160 unless the fonts need more.
class TTipOfTheDayForm : public QDialog {
    Q_OBJECT
public:
    explicit TTipOfTheDayForm(QWidget* parent = nullptr);

    // Sizes the window to its client area, grown where the texts need it.
    void fitClientArea();

    QWidget* Image1;
    QFrame* Panel1;
    QWidget* TitleStrip;
    QLabel* HeaderLabel;
    QLabel* TipLabel;
    QCheckBox* ShowTipsCheck;
    QPushButton* OkBtn;
    QPushButton* NextBtn;
    QPushButton* HelpBtn;
    // The help context of the tip shown, given to the help viewer by HelpBtn.
    int HelpContext = 0;

signals:
    void helpRequested(int helpContext);

protected:
    void showEvent(QShowEvent* event) override;
};

class TCustomTipOfTheDay : public QObject {
    Q_OBJECT
public:
    // Hooks into the first showing of the window that owns `owner` (the nearest widget
    // among the owners).  `random` picks the tips; none means the program's generator.
    TCustomTipOfTheDay(QObject* owner, Dialogs& dialogs, RandomSource random = {});
    ~TCustomTipOfTheDay() override;

    TTipList& Tips() { return tips_; }
    const TTipList& Tips() const { return tips_; }
    // Raises QuorvelError for a source that is not a TTipList.
    void setTips(const TPersistent& tips) { tips_.Assign(tips); }
    bool ShowTipsAtStartup() const { return showTipsAtStartup_; }
    void setShowTipsAtStartup(bool on) { showTipsAtStartup_ = on; }

    // Before the window is shown modally: (component, help context).
    std::function<void(TCustomTipOfTheDay&, int helpContext)> OnShowForm;
    // When "&Next tip" has put the next tip into the open window.
    std::function<void(TCustomTipOfTheDay&)> OnNextTip;

    // Puts the next tip into the window, opening it modally unless it is open; a
    // failure of the kind ETipOfTheDay shows an apology instead.
    void ShowNextTip();

    TTipOfTheDayForm& Form() { return *form_; }
    const TTip* CurrentTip() const { return tip_; }
    const TTipType* CurrentTipType() const { return tipType_; }

protected:
    bool ShowHelpButton() const { return showHelpButton_; }
    void setShowHelpButton(bool on) { showHelpButton_ = on; }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showTip();
    void showApology(const std::string& failure);
    void showModal();
    void ownerShown();

    Dialogs& dialogs_;
    RandomSource random_;
    TTipList tips_;
    bool showTipsAtStartup_ = true;
    bool showHelpButton_ = true;
    const TTip* tip_ = nullptr;
    const TTipType* tipType_ = nullptr;
    QPointer<TTipOfTheDayForm> form_;
    QPointer<QWidget> ownerWindow_;
    bool formOpen_ = false;
};

class TTipOfTheDay : public TCustomTipOfTheDay {
    Q_OBJECT
public:
    using TCustomTipOfTheDay::TCustomTipOfTheDay;
    using TCustomTipOfTheDay::ShowHelpButton;
    using TCustomTipOfTheDay::setShowHelpButton;
};

// The main window's TipOfTheDay1: no Help button, the program's twenty tips.  Owned by
// `owner`.
TTipOfTheDay* makeProgramTipOfTheDay(QObject* owner, Dialogs& dialogs);

}  // namespace quorvel
