// The real file dialog that Options -> Find opens: it lists the folders to move through and
// the programs of a folder, nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "platform/Dialogs.h"

namespace quorvel {
namespace {

void makeFile(const QString& path, bool executable) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    ::chmod(QFile::encodeName(path).constData(), executable ? 0755 : 0644);
}

// Opens the dialog on `folder` and returns the names it lists there.
QSet<QString> namesShown(const QString& folder, int atLeast) {
    FileDialogRequest request;
    request.title = "Find your Browser";
    request.filter = "Executables (*)";
    request.executablesOnly = true;
    request.mustExist = true;
    request.directory = folder;
    QSet<QString> shown;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* view = dlg ? dlg->findChild<QAbstractItemView*>("listView") : nullptr;
        if (view) {
            // The folder is read in the background; what it shows is checked below either way.
            (void)QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= atLeast; },
                            5000);
            QTest::qWait(200);
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                shown.insert(view->model()->index(r, 0, view->rootIndex()).data().toString());
        }
        if (dlg) dlg->reject();
    });
    QtDialogs dialogs;
    EXPECT_FALSE(dialogs.openFile(request).has_value());
    return shown;
}

TEST(FindBrowserDialog, ListsFoldersAndProgramsOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir("lib"));
    makeFile(dir.filePath("firefox"), true);
    makeFile(dir.filePath("notes.txt"), false);

    const QSet<QString> shown = namesShown(dir.path(), 2);
    EXPECT_EQ(shown, (QSet<QString>{"lib", "firefox"}));
    // A system folder full of programs.
    const QSet<QString> bin = namesShown("/usr/bin", 20);
    EXPECT_TRUE(bin.contains("env") && bin.contains("ls")) << bin.size() << " names";
}

}  // namespace
}  // namespace quorvel
