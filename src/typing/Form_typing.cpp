// Typing the current Item's script into the window the user had in front before ours.
#include <QApplication>
#include <QStringList>
#include <QWindow>
#include <chrono>

#include "mainwindow/TMainForm.h"
#include "platform/Dialogs.h"
#include "platform/RunInputFence.h"
#include "typing/KeyfillForm.h"
#include "typing/OwnKeysGuard.h"
#include "typing/core/KeyfillEngine.h"

namespace quorvel {

namespace {
// How long the target gets to take the keyboard focus before Type gives up.
constexpr std::chrono::milliseconds kActivationLimit{2000};
// How long the end of a run may wait for the window system to hand over the run's last
// events (a round trip on a loaded machine).
constexpr std::chrono::milliseconds kDrainLimit{1000};

QString leftOutMessage(const std::u32string& missing) {
    QStringList shown;
    for (const char32_t c : missing)
        shown << (c == U' ' ? QStringLiteral("space") : QString::fromUcs4(&c, 1));
    return QStringLiteral("The keyboard layout of this desktop cannot type these characters, "
                          "so they were left out:\n%1")
        .arg(shown.join(QLatin1Char(' ')));
}
}  // namespace

void TMainForm::setupTyping() {
    connect(FindTarget, &QTimer::timeout, this, &TMainForm::FindTargetTimer);
    connect(TypeDelay, &QTimer::timeout, this, &TMainForm::TypeDelayTimer);
    connect(Keyfill, &QPushButton::clicked, this, &TMainForm::KeyfillClick);
    connect(Keyfill, &PressButton::mouseDown, this, &TMainForm::KeyfillMouseDown);
    if (!seams.keyboard) return;
    connect(GiveBackKeys, &QTimer::timeout, this, [this] {
        if (!Typist || !Typist->running()) seams.keyboard->giveBackIdle();
    });
    KeyfillHooks hooks;
    hooks.inVars = [this](const std::string& name) { return InVars(QString::fromStdString(name)); };
    hooks.valueOf = [this](const std::string& name) {
        return variableValue(QString::fromStdString(name)).toStdString();
    };
    hooks.afterElement = [] { QApplication::processEvents(); };
    hooks.slowDown = [this] { return SlowDownType->isChecked(); };
    // A click into one of our windows during a run takes the keys away from the target:
    // stop rather than type into ourselves.
    hooks.keepTyping = [this] {
        return !seams.activeWindow || !seams.activeWindow->focusIn(ownWindows());
    };
    hooks.slowWait = [this] {
        TypeDelay->start();
        while (TypeDelay->isActive()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    Typist = std::make_unique<KeyfillEngine>(*seams.keyboard, std::move(hooks));
    OwnKeys = new OwnKeysGuard([this] { Typist->stop(); }, this);
    RunFence = std::make_unique<RunInputFence>();
}

void TMainForm::createKeyfillForm() {
    KeyfillForm = new TKeyfillForm(this, [this](const QString& name) { return InVars(name); });
    refillEditorVariables();
    if (AlwaysOnTop->isChecked()) KeyfillForm->setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

void TMainForm::KeyfillClick() {
    const int row = Entries->itemIndex();
    // A second click while a run types is refused until the run has ended.
    if (row < 0 || Items.empty() || (Typist && Typist->running())) {
        focusEntries();
        return;
    }
    const Rec& r = itemAtRow(row);
    if (r.Keys.empty()) {
        KeyfillMouseDown(Qt::RightButton);
        focusEntries();
        return;
    }
    if (!Typist || !seams.keyboard->available() || !seams.activeWindow ||
        !seams.activeWindow->available()) {
        if (!noDisplayExplained_) {
            noDisplayExplained_ = true;
            dialogs.info(seams.typingMissing.isEmpty()
                             ? QStringLiteral("Typing into other windows is not possible on this "
                                              "desktop.")
                             : seams.typingMissing);
        }
        focusEntries();
        return;
    }
    if (TargetWindow == 0) {
        focusEntries();
        return;
    }
    const std::string script = r.Keys;  // the run lets events in; the Item may change meanwhile
    // A desktop that asks the user's consent before anything is typed asks it now, while
    // our window is still in front to explain what the request is for.
    const std::string refused = seams.keyboard->open();
    if (!refused.empty()) {
        dialogs.warning(QString::fromStdString(refused));
        focusEntries();
        return;
    }
    // The first key goes out only once the target really has the keyboard: a click on our
    // button may leave the focus with us for a while, whatever the window manager says.
    if (!seams.activeWindow->activate(TargetWindow, ownWindows(), kActivationLimit)) {
        dialogs.warning(QStringLiteral("Quorvel could not bring %1 to the front; nothing was typed.")
                            .arg(targetName()));
        focusEntries();
        return;
    }
    typeScript(script);
    focusEntries();
}

void TMainForm::typeScript(const std::string& script) {
    RunFence->begin();
    OwnKeys->arm();
    Typist->run(script);
    // A key of the run that went to one of our windows may still be on its way to us.
    RunFence->drain(windowHandle(), kDrainLimit);
    OwnKeys->disarm();
    RunFence->end();
    seams.activeWindow->runEnded();
    if (Typist->stopped() || OwnKeys->reached()) {
        const QString name = targetName();
        dialogs.warning(QStringLiteral("Typing stopped because the keys were reaching Quorvel "
                                       "instead of %1.\nClick where the text belongs in %1, "
                                       "then click Type again.")
                            .arg(name));
    }
    if (!Typist->leftOut().empty()) dialogs.info(leftOutMessage(Typist->leftOut()));
}

QString TMainForm::targetName() const {
    const QString name = QString::fromStdString(seams.activeWindow->title(TargetWindow));
    return name.isEmpty() ? QStringLiteral("the other window") : name;
}

std::vector<unsigned long> TMainForm::ownWindows() const {
    // Qt's windows rather than the widgets' ids: a widget keeps the id of its first native
    // window when Qt makes it a new one (setting Always On Top does).
    std::vector<unsigned long> own;
    for (const QWindow* w : QGuiApplication::allWindows())
        if (w->handle()) own.push_back(static_cast<unsigned long>(w->winId()));
    return own;
}

unsigned long TMainForm::ownWindowId() const {
    const QWindow* w = windowHandle();
    return w && w->handle() ? static_cast<unsigned long>(w->winId())
                            : static_cast<unsigned long>(effectiveWinId());
}

void TMainForm::KeyfillMouseDown(Qt::MouseButton button) {
    const int row = Entries->itemIndex();
    if (button != Qt::RightButton || row < 0 || Items.empty() || !KeyfillForm) return;
    const Rec& r = itemAtRow(row);
    KeyfillForm->setScriptText(QString::fromStdString(r.Keys));
    KeyfillForm->setWindowTitle(QStringLiteral("Keyfill for \"") + QString::fromStdString(r.Name) +
                                QStringLiteral("\""));
    if (dialogs.execModal(*KeyfillForm) == QDialog::Accepted) {
        Rec& again = itemAtRow(Entries->itemIndex() >= 0 ? Entries->itemIndex() : row);
        again.Keys = KeyfillForm->scriptText().toStdString();
    }
    setKeyfillGlyph(CurrentItem);
}

void TMainForm::setKeyfillGlyph(const Rec* item) {
    Keyfill->setIcon(item && !item->Keys.empty() ? KeyGrnGlyph : KeyboardGlyph);
}

void TMainForm::SendKey(char32_t character) {
    if (Typist) Typist->SendKey(character);
}
void TMainForm::SendVariable(const std::string& bracedName) {
    if (Typist) Typist->SendVariable(bracedName);
}
void TMainForm::SimulateKeyDown(int vk) {
    if (Typist) Typist->SimulateKeyDown(vk);
}
void TMainForm::SimulateKeyUp(int vk) {
    if (Typist) Typist->SimulateKeyUp(vk);
}
void TMainForm::SimulateKeystroke(int vk, int scanCode) {
    if (Typist) Typist->SimulateKeystroke(vk, scanCode);
}

void TMainForm::TypeDelayTimer() { TypeDelay->stop(); }

void TMainForm::FindTargetTimer() {
    if (!seams.activeWindow || !seams.activeWindow->available()) return;
    const unsigned long front = seams.activeWindow->foreground();
    // Our own window is never the target; nor is "no window" (a moment between windows).
    if (front != 0 && front != ownWindowId()) TargetWindow = front;
}

}  // namespace quorvel
