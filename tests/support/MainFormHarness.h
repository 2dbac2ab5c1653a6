// Builds the real main window headless in a temporary program folder, with scripted
// dialogs, a fixed clock and fixed formats.
#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>

#include "ScriptedDialogs.h"
#include "mainwindow/TMainForm.h"
#include "platform/Clock.h"

namespace quorvel::test {

class FixedClock : public Clock {
public:
    double value = 0;
    mutable int reads = 0;
    double now() const override {
        ++reads;
        return value;
    }
};

// 10 March 2001 at 12:00 unless a test sets another moment.
double dayNumber(int y, int m, int d, int h = 0, int mi = 0);

// The formats every window test runs under: day/month/year, 24-hour time, decimal point.
FormatSettings testFormats();
// The seams of a window in `folder` with these parts and the build's own advert.so.
MainFormSeams testSeams(Dialogs& dialogs, Clock& clock, FormatSettings& formats, const QString& folder);

class MainFormHarness {
public:
    MainFormHarness();
    ~MainFormHarness();

    // Files of the program folder.
    QString path(const QString& name) const;
    void writeFile(const QString& name, const std::string& bytes) const;
    std::string readFile(const QString& name) const;
    bool exists(const QString& name) const;

    // Builds the window (its start-up runs now; script the start-up boxes before).
    TMainForm& start();
    // Runs the shutdown and destroys the window.
    void stop();
    TMainForm& form() { return *form_; }

    ScriptedDialogs dialogs;
    FixedClock clock;
    // Optional seams handed to the window when it is built.
    Keyboard* keyboard = nullptr;
    ActiveWindow* activeWindow = nullptr;
    Shell* shell = nullptr;
    BrowserConversation* browser = nullptr;
    QString typingMissing;  // what the typing layers said they lack
    QString advertLibrary;  // empty: the build's own advert.so
    // The built-in download server; empty: a copy built without one.  Nothing listens on
    // port 80 here, so a check the start-up makes fails at once.
    QString downloadHost = QStringLiteral("127.0.0.1");
    FormatSettings formats;
    QTemporaryDir dir;

private:
    std::unique_ptr<TMainForm> form_;
};

// Makes Items without going through dialogs: name, LastDone, RepeatDays.
void addItem(TMainForm& f, const std::string& name, const std::string& lastDone, int repeat = 5,
             const std::string& groups = {});

}  // namespace quorvel::test
