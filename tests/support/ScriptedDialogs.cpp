#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <QDialog>

namespace quorvel::test {

namespace {
std::string kindName(MsgKind k) { return captionFor(k).toStdString(); }
}  // namespace

ScriptedDialogs::~ScriptedDialogs() {
    for (const Expected& e : expected_)
        ADD_FAILURE() << "expected box never shown: " << e.what << " \"" << e.text.toStdString()
                      << "\"";
}

ScriptedDialogs& ScriptedDialogs::expectMessage(MsgKind kind, const QString& text,
                                                MsgAnswer answer) {
    expected_.push_back({kindName(kind), captionFor(kind), text, {}, answer, {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectInput(const QString& caption, const QString& prompt,
                                              const QString& proposed,
                                              std::optional<QString> reply) {
    expected_.push_back({"Input", caption, prompt, proposed, MsgAnswer::Ok, reply, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectReport(const QString& text) {
    expected_.push_back({"Report", {}, text, {}, MsgAnswer::Ok, {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectPlain(const QString& text) {
    expected_.push_back({"Plain", {}, text, {}, MsgAnswer::Ok, {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectAssertion(const QString& text) {
    expected_.push_back({"Assertion", QStringLiteral("Assertion Failed"), text, {}, MsgAnswer::Ok,
                         {}, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectOpenFile(std::optional<QString> path, const QString& title) {
    expected_.push_back({"Open", title, {}, {}, MsgAnswer::Ok, path, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::expectSaveFile(std::optional<QString> path, const QString& title) {
    expected_.push_back({"Save", title, {}, {}, MsgAnswer::Ok, path, {}});
    return *this;
}

ScriptedDialogs& ScriptedDialogs::during(std::function<void()> f) {
    if (!expected_.empty()) expected_.back().during = std::move(f);
    return *this;
}

std::optional<ScriptedDialogs::Expected> ScriptedDialogs::take(const std::string& what,
                                                               const QString& caption,
                                                               const QString& text) {
    calls_.push_back({what, caption, text});
    if (expected_.empty()) {
        ADD_FAILURE() << "unexpected " << what << " box: \"" << text.toStdString() << "\"";
        return std::nullopt;
    }
    Expected e = expected_.front();
    expected_.pop_front();
    EXPECT_EQ(e.what, what) << "box text: \"" << text.toStdString() << "\"";
    if (!e.caption.isEmpty()) {
        EXPECT_EQ(e.caption.toStdString(), caption.toStdString());
    }
    if (what != "Open" && what != "Save") {
        EXPECT_EQ(e.text.toStdString(), text.toStdString());
    }
    if (e.during) e.during();
    return e;
}

MsgAnswer ScriptedDialogs::message(MsgKind kind, const QString& text, MsgButtons buttons) {
    const auto e = take(kindName(kind), captionFor(kind), text);
    if (!e) return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
    if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return e->answer == MsgAnswer::Ok ? MsgAnswer::Yes : e->answer;
}

void ScriptedDialogs::showMessage(const QString& text) { take("Plain", {}, text); }

std::optional<QString> ScriptedDialogs::input(const QString& caption, const QString& prompt,
                                              const QString& value) {
    const auto e = take("Input", caption, prompt);
    if (!e) return std::nullopt;
    EXPECT_EQ(e->proposed.toStdString(), value.toStdString()) << "proposed text of " << prompt.toStdString();
    return e->reply;
}

void ScriptedDialogs::errorReport(const QString& text) { take("Report", {}, withFullStop(text)); }

void ScriptedDialogs::assertion(const QString& text) {
    take("Assertion", QStringLiteral("Assertion Failed"), text);
}

std::optional<QString> ScriptedDialogs::openFile(const FileDialogRequest& request) {
    fileDialogs.push_back(request);
    const auto e = take("Open", request.title, {});
    return e ? e->reply : std::nullopt;
}

std::optional<QString> ScriptedDialogs::saveFile(const FileDialogRequest& request) {
    fileDialogs.push_back(request);
    const auto e = take("Save", request.title, {});
    return e ? e->reply : std::nullopt;
}

int ScriptedDialogs::execModal(QDialog& dialog) {
    calls_.push_back({"Modal", dialog.windowTitle(), {}});
    return onModal ? onModal(dialog) : QDialog::Rejected;
}

}  // namespace quorvel::test
