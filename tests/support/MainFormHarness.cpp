#include "MainFormHarness.h"

#include <gtest/gtest.h>

#include <QFile>

#include "AsUser.h"
#include "model/DateTime.h"
#include "platform/Application.h"
#include "platform/FileIO.h"

namespace quorvel::test {

double dayNumber(int y, int m, int d, int h, int mi) {
    return encodeDayNumber({y, m, d, h, mi, 0, 0});
}

FormatSettings testFormats() {
    FormatSettings formats;
    formats.shortDateFormat = "dd/mm/yyyy";
    formats.dateSeparator = '/';
    formats.shortTimeFormat = "hh:nn";
    formats.timeSeparator = ':';
    formats.decimalSeparator = '.';
    return formats;
}

MainFormSeams testSeams(Dialogs& dialogs, Clock& clock, FormatSettings& formats, const QString& folder) {
    MainFormSeams seams;
    seams.dialogs = &dialogs;
    seams.clock = &clock;
    seams.formats = &formats;
    seams.paths = ProgramPaths::inFolder(folder);
    seams.advertLibrary = buildFile("advert.so");
    return seams;
}

MainFormHarness::MainFormHarness() : formats(testFormats()) {
    clock.value = dayNumber(2001, 3, 10, 12, 0);
    // The first start shows the tip of the day unless the settings say otherwise.
    writeFile(QStringLiteral("Quorvel.ini"), "[Options]\r\nTipOfTheDay=0\r\n");
    Application::setErrorReporter(&dialogs);
}

MainFormHarness::~MainFormHarness() {
    if (form_) stop();
    Application::setErrorReporter(nullptr);
}

QString MainFormHarness::path(const QString& name) const { return dir.filePath(name); }

void MainFormHarness::writeFile(const QString& name, const std::string& bytes) const {
    writeWholeFile(path(name), bytes);
}

std::string MainFormHarness::readFile(const QString& name) const {
    return readWholeFile(path(name));
}

bool MainFormHarness::exists(const QString& name) const { return QFile::exists(path(name)); }

TMainForm& MainFormHarness::start() {
    MainFormSeams seams = testSeams(dialogs, clock, formats, dir.path());
    seams.keyboard = keyboard;
    seams.activeWindow = activeWindow;
    seams.shell = shell;
    seams.browser = browser;
    if (!advertLibrary.isEmpty()) seams.advertLibrary = advertLibrary;
    seams.typingMissing = typingMissing;
    seams.downloadHost = downloadHost;
    form_ = std::make_unique<TMainForm>(seams);
    return *form_;
}

void MainFormHarness::stop() {
    form_->FormDestroy();
    form_.reset();
}

void addItem(TMainForm& f, const std::string& name, const std::string& lastDone, int repeat,
             const std::string& groups) {
    auto rec = std::make_unique<Rec>();
    rec->Name = name;
    rec->LastDone = lastDone;
    rec->RepeatDays = repeat;
    rec->Groups = groups;
    f.Items.append(std::move(rec));
    f.Entries->addItem(QString::fromStdString(name));
}

}  // namespace quorvel::test
