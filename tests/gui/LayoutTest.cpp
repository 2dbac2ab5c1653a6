// The window's layout at several heights, with the real window shown headless.
#include <gtest/gtest.h>

#include <QTest>

#include "components/AdImage.h"
#include <QLabel>

#include "support/MainFormHarness.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct LayoutFixture : ::testing::Test {
    MainFormHarness h;
    TMainForm* f = nullptr;
    void SetUp() override {
        f = &h.start();
        f->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(f));
    }
    void resizeTo(int w, int hgt) {
        f->resize(w, hgt);
        QApplication::processEvents();
    }
    // Screenshots for a person to look at, when asked for.
    void shoot(const char* name) {
        const QByteArray dir = qgetenv("QUORVEL_SCREENSHOTS");
        if (dir.isEmpty()) return;
        for (int tab = 0; tab < 4; ++tab) {
            f->Page->setCurrentIndex(tab);
            QApplication::processEvents();
            f->grab().save(QString("%1/%2-tab%3.png").arg(QString(dir)).arg(name).arg(tab));
        }
        f->Page->setCurrentIndex(0);
    }
};

}  // namespace

TEST_F(LayoutFixture, WidthSnapsBackAndHeightStopsAt320) {
    resizeTo(600, 500);
    EXPECT_EQ(f->width(), 470);
    EXPECT_EQ(f->height(), 500);
    resizeTo(470, 200);
    EXPECT_EQ(f->height(), 320);
}

TEST_F(LayoutFixture, FormulasHoldAtSeveralHeights) {
    for (const int height : {320, 400, 600}) {
        SCOPED_TRACE(height);
        resizeTo(470, height);
        const QSize page = f->EntriesTab->size();
        const int tw = page.width(), th = page.height();
        EXPECT_EQ(f->Page->height(), height - 62);
        EXPECT_EQ(f->Ad->geometry(), QRect(1, f->Page->height() + 1, 468, 60));
        const int ew = tw / 3 - 3;
        EXPECT_EQ(f->Entries->x(), 1);
        EXPECT_EQ(f->Entries->width(), ew);
        EXPECT_EQ(f->Entries->y(), f->Url->y() + f->Url->height() + 19);
        EXPECT_EQ(f->Entries->height(), th - f->NewBut->height() - f->GroupList->height() - 42);
        EXPECT_EQ(f->Url->geometry(), QRect(ew + 4, 22, 2 * ew + 2, 21));
        EXPECT_EQ(f->NewBut->y(), f->Entries->geometry().bottom() + 1 + 2);
        EXPECT_EQ(f->NewBut->width(), tw / 6 - 2);
        EXPECT_EQ(f->HelpBut->x(), 1 + 5 * (tw / 6 - 2 + 2));
        EXPECT_EQ(f->Comments->y() + f->Comments->height(), f->Entries->y() + f->Entries->height());
        EXPECT_EQ(f->Comments->width(), f->Url->width() + 1);
        EXPECT_EQ(f->Keyfill->geometry().topLeft(), QPoint(f->NumEntries->x(), f->Freq->y()));
        EXPECT_EQ(f->Variables->height(), th - 24);
        EXPECT_EQ(f->VarDelButton->x(), f->VarNewButton->x() + f->VarNewButton->width());
        EXPECT_EQ(f->FileList->height(), th - f->CheckButton->height() - 24);
        EXPECT_EQ(f->CheckButton->y(), f->FileList->height() + 24);
        EXPECT_EQ(f->Description->height(), f->FileList->height() / 2);
        EXPECT_EQ(f->DownloadBut->y(), f->CheckButton->y());
        EXPECT_EQ(f->BrowserBox->width(), tw - 4);
        EXPECT_EQ(f->FindButton->x(), f->Browser->width() + 14);
    }
    shoot("layout");
}

TEST_F(LayoutFixture, EntriesTabKeyboardOrder) {
    QWidget* expected[] = {f->Url,     f->Entries, f->Comments, f->NewBut,     f->DelBut,
                           f->Last,    f->GotoBut, f->DoneBut,  f->NextBut,    f->GroupList,
                           f->NumEntries, f->Keyfill, f->HelpBut, f->Freq};
    for (std::size_t i = 0; i + 1 < std::size(expected); ++i) {
        QWidget* next = expected[i]->nextInFocusChain();
        // Inner widgets (a spin edit's line edit) and widgets Tab never stops at sit between.
        while (next && next != expected[i + 1] &&
               (expected[i]->isAncestorOf(next) || !(next->focusPolicy() & Qt::TabFocus)))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, expected[i + 1]) << "after control " << i;
    }
}

TEST_F(LayoutFixture, CountLabelsShowTheirWholeText) {
    // Every label whose text the program changes fits it: placed by hand, a label would
    // otherwise keep the width of its first text.
    auto whole = [](const QLabel* l) {
        return l->width() >= l->fontMetrics().horizontalAdvance(l->text());
    };
    for (int i = 0; i < 12; ++i)
        addItem(*f, "Item " + std::to_string(i), i < 3 ? "10/03/2001 10:00" : "01/01/2001 10:00");
    f->MenuUpdateClick();
    EXPECT_TRUE(f->Label1->text().startsWith("Items: (")) << f->Label1->text().toStdString();
    EXPECT_TRUE(whole(f->Label1)) << f->Label1->width();
    QApplication::processEvents();
    EXPECT_TRUE(f->Label1->isVisible());
}
