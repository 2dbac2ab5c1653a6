// The window's components: the banner, the tip of the day and the drop target for links.
#include <QApplication>
#include <QTimer>

#include "components/AdImage.h"
#include "components/DropTarget.h"
#include "components/TipOfTheDay.h"
#include "components/core/DropData.h"
#include "mainwindow/TMainForm.h"

namespace quorvel {

void TMainForm::createComponents() {
    const QString library =
        seams.advertLibrary.isEmpty() ? paths.advertLibrary() : seams.advertLibrary;
    Ad = new TAdImage(this, dialogs, library);
    Ad->setToolTip(QStringLiteral("Please click to visit our sponsor"));
    Ad->setProgramID(145);
    Ad->setBandwidthThrottle(2147483647);
    Ad->setMinimumAdDisplayTime(0);
    Ad->setNetworkIsUp(false);
    Ad->setAdSize(TAdImageSize::ADS468x60);
    connect(Ad, &TAdImage::adCounted, this, &TMainForm::AdAdCounted);
    Ad->loaded();  // its stored properties are applied: the library starts

    TipOfTheDay1 = makeProgramTipOfTheDay(this, dialogs);

    DropURLTarget = new TDropURLTarget(this);
    DropURLTarget->setObjectName(QStringLiteral("DropURLTarget"));
    DropURLTarget->OnDrop = [this](TDropTarget&, Qt::KeyboardModifiers, QPoint, int&) {
        DropURLTargetDrop();
    };
}

void TMainForm::DropURLTargetDrop() {
    raise();
    activateWindow();
    QApplication::processEvents();
    const QString url = DropURLTarget->URL();
    const QString name =
        QString::fromStdString(proposedItemName(DropURLTarget->Title().toStdString()));
    // Asked once the drop has finished, so the browser is not kept waiting on the name box.
    QTimer::singleShot(0, this, [this, url, name] { CreateNewItem(url, name); });
}

}  // namespace quorvel
