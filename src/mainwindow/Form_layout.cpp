// Placing the controls: the window keeps a fixed width and follows the user's height.
#include <QResizeEvent>
#include <QShowEvent>
#include <QTimer>

#include "components/AdImage.h"
#include "mainwindow/TMainForm.h"

namespace quorvel {

namespace {
constexpr int kClientWidth = 470;
constexpr int kMinClientHeight = 320;
}  // namespace

void TMainForm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    FormResize();
}

void TMainForm::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    FormResize();
    if (savedOuter_ && !e->spontaneous()) placeAsSaved();
}

void TMainForm::placeAsSaved() {
    // The frame is known once the window manager has put one around the window; without
    // a window manager there is none, and after a while the client is taken as it is.
    // The while is long: a window manager on a loaded machine may frame the window
    // seconds late, and a client placed before it came ends up shifted and as tall as
    // the frame more, which the next save keeps.  Without a window manager, waiting costs
    // nothing: the window already stands where the move before showing put it.
    constexpr int kStepMs = 20, kTries = 500;
    const bool framed = frameGeometry() != geometry();
    if (!framed && ++placeTries_ < kTries) {
        QTimer::singleShot(kStepMs, this, [this] {
            if (savedOuter_) placeAsSaved();
        });
        return;
    }
    const QRect outer = *savedOuter_;
    savedOuter_.reset();
    const int frameExtra = frameGeometry().height() - height();
    resize(width(), std::max(kMinClientHeight, outer.height() - frameExtra));
    move(outer.topLeft());  // a shown window moves by its frame
}

bool TMainForm::eventFilter(QObject* watched, QEvent* e) {
    // The pages get their size from the tab control after it has been resized.
    if (watched == EntriesTab && e->type() == QEvent::Resize && !inResize_) FormResize();
    return QWidget::eventFilter(watched, e);
}

void TMainForm::FormResize() {
    if (inResize_) return;
    inResize_ = true;
    Ad->setAdSize(TAdImageSize::ADS468x60);
    setMinimumSize(kClientWidth, kMinClientHeight);
    setMaximumWidth(kClientWidth);
    if (height() < kMinClientHeight || width() != kClientWidth)
        resize(kClientWidth, std::max(height(), kMinClientHeight));
    Page->setGeometry(0, 0, width(), height() - 62);
    Ad->move((width() - Ad->width()) / 2, Page->height() + 1);
    inResize_ = false;

    // All four pages share one size, derived by the tab control from its own.
    const QRect pageRect = Page->currentWidget() ? Page->currentWidget()->geometry() : QRect();
    int tw = pageRect.width(), th = pageRect.height();
    if (tw <= 0 || th <= 0) {
        // Not laid out yet (hidden window): the tab bar and frame take their usual room.
        tw = Page->width() - 4;
        th = Page->height() - Page->tabBar()->sizeHint().height() - 4;
    }

    // Entries tab.
    Label8->move(2, 5);
    const int entriesWidth = tw / 3 - 3;
    GroupList->setGeometry(1, 22, entriesWidth, 21);
    Label4->move(entriesWidth + 4, 5);
    Url->setGeometry(Label4->x(), Label4->y() + 17, 2 * entriesWidth + 2, 21);
    const int entriesTop = Url->y() + Url->height() + 19;
    const int buttonHeight = 20;
    const int entriesHeight = th - buttonHeight - GroupList->height() - 42;
    Entries->setGeometry(1, entriesTop, entriesWidth, entriesHeight);
    const int buttonWidth = tw / 6 - 2;
    QWidget* buttons[] = {NewBut, DelBut, GotoBut, DoneBut, NextBut, HelpBut};
    int left = 1;
    for (QWidget* b : buttons) {
        b->setGeometry(left, entriesTop + entriesHeight + 2, buttonWidth, buttonHeight);
        left += buttonWidth + 2;
    }
    Label7->move(Label4->x(), Url->y() + Url->height() + 2);
    Label1->move(2, Label7->y());
    Last->setGeometry(Label4->x(), Label7->y() + 17, entriesWidth, 21);
    Label9->move(Last->x() + Last->width() + 4, Label7->y());
    NumEntries->setGeometry(Last->x() + Last->width() + 4, Last->y(), Last->width(), 21);
    Label6->move(Label4->x(), Last->y() + Last->height() + 2);
    Freq->setGeometry(Label6->x(), Label6->y() + 17, Last->width(), 22);
    Keyfill->setGeometry(NumEntries->x(), Freq->y(), NumEntries->width(), buttonHeight);
    Label5->move(Label7->x(), Freq->y() + Freq->height() + 2);
    const int commentsTop = Label5->y() + 17;
    Comments->setGeometry(Label5->x(), commentsTop, Url->width() + 1,
                          entriesTop + entriesHeight - commentsTop);

    // Options tab.
    BrowserBox->setGeometry(2, 156, tw - 4, Browser->height() + 26);
    GeneralBox->setGeometry(2, 0, BrowserBox->width(), 104);
    DownloadBox->setGeometry(2, 104, BrowserBox->width(), 52);
    FindButton->setGeometry(0, 13, 60, 22);
    Browser->setGeometry(6, 14, BrowserBox->width() - FindButton->width() - 21, 21);
    FindButton->move(Browser->width() + 14, 13);

    // Variables tab: its columns line up with the Entries tab's.
    Label12->move(2, 5);
    Variables->setGeometry(1, Url->y(), entriesWidth, th - 24);
    const int labelHeight = 13;
    const int varHelpHeight =
        Variables->height() - 2 * 21 - 2 * labelHeight - buttonHeight - 18;
    VarHelp->setGeometry(entriesWidth + 8, Url->y(), tw - entriesWidth - 12, varHelpHeight);
    Label10->move(VarHelp->x(), VarHelp->y() + VarHelp->height() + 4);
    VarName->setGeometry(VarHelp->x(), Label10->y() + 17, tw - VarHelp->x() - 4, 21);
    Label11->move(VarHelp->x(), VarName->y() + VarName->height() + 2);
    VarValue->setGeometry(VarHelp->x(), Label11->y() + 17, VarName->width(), 21);
    VarNewButton->setGeometry(VarHelp->x(), VarValue->y() + VarValue->height() + 4,
                              VarName->width() / 2, buttonHeight);
    VarDelButton->setGeometry(VarNewButton->x() + VarNewButton->width(), VarNewButton->y(),
                              VarNewButton->width(), buttonHeight);

    // Download tab.
    Label13->move(2, 5);
    FileList->setGeometry(1, 22, entriesWidth, th - buttonHeight - 24);
    CheckButton->setGeometry(1, FileList->height() + 24, FileList->width(), buttonHeight);
    Label14->move(Label4->pos());
    Description->setGeometry(Url->x(), Url->y(), Url->width(), FileList->height() / 2);
    DownloadHelp->setGeometry(Url->x(), Description->y() + Description->height() + 2, Url->width(),
                              Description->height() - 2);
    DownloadBut->setGeometry(Description->x(), CheckButton->y(), Description->width(),
                             buttonHeight);
}

}  // namespace quorvel
