// Shared by the banner's tests: a Dialogs that records assertion boxes and rejects any
// other box, and the paths of the advertising libraries built beside the tests.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QStringList>

#include "platform/Dialogs.h"

namespace adtest {

class AssertionDialogs : public quorvel::Dialogs {
public:
    QStringList assertions;

    void assertion(const QString& text) override { assertions << text; }
    quorvel::MsgAnswer message(quorvel::MsgKind, const QString& text, quorvel::MsgButtons) override {
        ADD_FAILURE() << "unexpected message " << text.toStdString();
        return quorvel::MsgAnswer::Ok;
    }
    void showMessage(const QString& text) override {
        ADD_FAILURE() << "unexpected message " << text.toStdString();
    }
    std::optional<QString> input(const QString&, const QString& prompt, const QString&) override {
        ADD_FAILURE() << "unexpected input box " << prompt.toStdString();
        return std::nullopt;
    }
    void errorReport(const QString& text) override {
        ADD_FAILURE() << "unexpected error report " << text.toStdString();
    }
    std::optional<QString> openFile(const quorvel::FileDialogRequest&) override {
        ADD_FAILURE() << "unexpected open dialog";
        return std::nullopt;
    }
    std::optional<QString> saveFile(const quorvel::FileDialogRequest&) override {
        ADD_FAILURE() << "unexpected save dialog";
        return std::nullopt;
    }
    int execModal(QDialog&) override {
        ADD_FAILURE() << "unexpected modal window";
        return QDialog::Rejected;
    }
};

inline QString advertLibrary() { return QStringLiteral(QUORVEL_BINARY_DIR "/advert.so"); }
inline QString recorderLibrary(const char* variant = "") {
    return QStringLiteral(QUORVEL_BINARY_DIR "/advert_test/advert_recorder") +
           QLatin1String(variant) + QStringLiteral(".so");
}

}  // namespace adtest
