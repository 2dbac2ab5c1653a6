#include "components/TipOfTheDay.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <set>

#include "platform/Dialogs.h"

using namespace quorvel;

namespace {

// Runs the test's "user" inside the modal window instead of blocking.
class ModalScript : public Dialogs {
public:
    std::function<void(QDialog&)> user;
    int modals = 0;

    int execModal(QDialog& dialog) override {
        ++modals;
        if (user) user(dialog);
        return QDialog::Accepted;
    }
    MsgAnswer message(MsgKind, const QString& text, MsgButtons) override {
        ADD_FAILURE() << "unexpected message " << text.toStdString();
        return MsgAnswer::Ok;
    }
    void showMessage(const QString& text) override { ADD_FAILURE() << text.toStdString(); }
    std::optional<QString> input(const QString&, const QString&, const QString&) override {
        ADD_FAILURE() << "unexpected input box";
        return std::nullopt;
    }
    void errorReport(const QString& text) override { ADD_FAILURE() << text.toStdString(); }
    void assertion(const QString& text) override { ADD_FAILURE() << text.toStdString(); }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
};

struct Seen {
    QString caption;
    QString header;
    QString tip;
};

Seen seen(TCustomTipOfTheDay& tips) {
    TTipOfTheDayForm& form = tips.Form();
    return {form.windowTitle(), form.HeaderLabel->text(), form.TipLabel->text()};
}

TEST(TipOfTheDay, NextTipShowsAllTwentyThenApologises) {
    QWidget owner;
    ModalScript dialogs;
    TTipOfTheDay* tips = makeProgramTipOfTheDay(&owner, dialogs);
    int nextTips = 0;
    tips->OnNextTip = [&](TCustomTipOfTheDay&) { ++nextTips; };
    std::vector<Seen> shown;
    dialogs.user = [&](QDialog&) {
        EXPECT_TRUE(tips->Form().HelpBtn->isHidden());
        shown.push_back(seen(*tips));
        for (int i = 0; i < 19; ++i) {
            tips->Form().NextBtn->click();
            shown.push_back(seen(*tips));
        }
        tips->Form().NextBtn->click();
        shown.push_back(seen(*tips));
    };
    tips->ShowNextTip();

    EXPECT_EQ(dialogs.modals, 1);
    EXPECT_EQ(nextTips, 19);
    ASSERT_EQ(shown.size(), 21u);
    std::set<QString> texts;
    const TTipList all = programTips();
    std::set<QString> expected;
    for (std::size_t i = 0; i < all.TipCount(); ++i)
        expected.insert(QString::fromStdString(all.Tip(i).Tip));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(shown[i].caption, QStringLiteral("Tip of the day"));
        EXPECT_EQ(shown[i].header, QStringLiteral("Here is something you should know:"));
        texts.insert(shown[i].tip);
    }
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(shown[20].caption, QStringLiteral("Tip of the day error"));
    EXPECT_EQ(shown[20].header, QStringLiteral("I'm very sorry, but..."));
    EXPECT_EQ(shown[20].tip, QStringLiteral("all available tips have been shown."));
    EXPECT_EQ(tips->CurrentTip(), nullptr);
}

TEST(TipOfTheDay, WithoutTipsTheProgrammerForgot) {
    ModalScript dialogs;
    TTipOfTheDay tips(nullptr, dialogs);
    bool formShown = false;
    tips.OnShowForm = [&](TCustomTipOfTheDay&, int) { formShown = true; };
    tips.ShowNextTip();
    EXPECT_EQ(dialogs.modals, 1);
    EXPECT_FALSE(formShown);
    EXPECT_EQ(seen(tips).caption, QStringLiteral("Tip of the day error"));
    EXPECT_EQ(seen(tips).tip,
              QStringLiteral("the programmer forgot to provide the tips you should be reading now."));
    EXPECT_FALSE(tips.Form().HelpBtn->isHidden());  // a plain component has its Help button

    tips.setShowHelpButton(false);
    tips.ShowNextTip();
    EXPECT_TRUE(tips.Form().HelpBtn->isHidden());
}

TEST(TipOfTheDay, UnknownTipTypeAndHelpContext) {
    ModalScript dialogs;
    TTipOfTheDay tips(nullptr, dialogs);
    tips.Tips().AddType("Known", "Known caption", "Known header");
    tips.Tips().AddTip("known", "A known tip", 42);
    int context = -1;
    tips.OnShowForm = [&](TCustomTipOfTheDay&, int helpContext) { context = helpContext; };
    tips.ShowNextTip();
    EXPECT_EQ(context, 42);
    EXPECT_EQ(tips.Form().HelpContext, 42);
    EXPECT_EQ(seen(tips).caption, QStringLiteral("Known caption"));
    ASSERT_NE(tips.CurrentTipType(), nullptr);

    TTipList stray;
    stray.AddTip("nowhere", "orphan");
    tips.setTips(stray);
    tips.ShowNextTip();
    EXPECT_EQ(seen(tips).tip,
              QStringLiteral("due to an error I am unable to show you the next tip of the day."));
    EXPECT_EQ(tips.Form().HelpContext, 0);
    EXPECT_EQ(tips.CurrentTipType(), nullptr);
}

TEST(TipOfTheDay, OpensOnceAfterTheOwnerIsFirstShown) {
    QWidget owner;
    ModalScript dialogs;
    TTipOfTheDay* tips = makeProgramTipOfTheDay(&owner, dialogs);
    bool ownerVisible = false;
    dialogs.user = [&](QDialog& dialog) {
        ownerVisible = owner.isVisible();
        EXPECT_EQ(&dialog, &tips->Form());
    };
    owner.show();
    EXPECT_EQ(dialogs.modals, 0);  // not inside the owner's show
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.modals, 1);
    EXPECT_TRUE(ownerVisible);

    owner.hide();
    owner.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.modals, 1);
}

TEST(TipOfTheDay, OptionOffAtFirstShowingOpensNothing) {
    QWidget owner;
    ModalScript dialogs;
    TTipOfTheDay* tips = makeProgramTipOfTheDay(&owner, dialogs);
    tips->setShowTipsAtStartup(false);
    owner.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.modals, 0);
}

TEST(TipOfTheDay, CheckBoxChangesOnlyTheComponent) {
    QWidget owner;
    auto* option = new QCheckBox(QStringLiteral("Tip of the day"), &owner);
    option->setObjectName(QStringLiteral("TipOfTheDay"));
    option->setChecked(true);
    ModalScript dialogs;
    TTipOfTheDay* tips = makeProgramTipOfTheDay(&owner, dialogs);
    tips->setShowTipsAtStartup(option->isChecked());
    dialogs.user = [&](QDialog&) {
        EXPECT_TRUE(tips->Form().ShowTipsCheck->isChecked());
        tips->Form().ShowTipsCheck->setChecked(false);
        tips->Form().NextBtn->click();  // the user's choice survives the next tip
        EXPECT_FALSE(tips->Form().ShowTipsCheck->isChecked());
        tips->Form().OkBtn->click();
    };
    owner.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.modals, 1);
    EXPECT_FALSE(tips->ShowTipsAtStartup());
    EXPECT_TRUE(option->isChecked());
}

TEST(TipOfTheDayForm, ColoursAndPicture) {
    TTipOfTheDayForm form;
    EXPECT_EQ(form.TitleStrip->palette().color(QPalette::Window), QColor(255, 255, 128));
    EXPECT_EQ(form.Panel1->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_GE(form.width(), 385);
    EXPECT_GE(form.height(), 160);
    // The picture is drawn, not blank, at a high pixel ratio too.
    QImage image(form.Image1->size() * 2, QImage::Format_ARGB32);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    form.Image1->render(&image);
    int painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) painted += qAlpha(image.pixel(x, y)) > 0;
    EXPECT_GT(painted, image.width() * image.height() / 5);
}

}  // namespace
