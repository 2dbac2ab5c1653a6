// A window that receives typed text, for the typing tests: whatever arrives in its text
// edit is written, after every change, to the file named on the command line (replaced
// atomically, so a reader never sees half a file).  It writes its X window id to that
// name plus ".wid" once shown, and "1" to ".focus" once it first has the keyboard, and
// empties the edit when it reads "clear <n>" on stdin.
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QWindow>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

bool writeAtomically(const QString& path, const QByteArray& bytes) {
    const QString temp = path + QStringLiteral(".part");
    QFile f(temp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    if (f.write(bytes) != bytes.size()) return false;
    f.close();
    return std::rename(QFile::encodeName(temp).constData(),
                       QFile::encodeName(path).constData()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: type_target <output file>\n");
        return 2;
    }
    const QString outPath = QString::fromLocal8Bit(argv[1]);

    QPlainTextEdit edit;
    edit.setWindowTitle(QStringLiteral("type_target"));
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.resize(640, 480);

    // Changes are collected until the event loop is idle again, then written at once:
    // rewriting the whole text for each of thousands of keystrokes in a batch is wasted.
    QTimer flush;
    flush.setSingleShot(true);
    flush.setInterval(0);
    QObject::connect(&flush, &QTimer::timeout,
                     [&] { writeAtomically(outPath, edit.toPlainText().toUtf8()); });
    QObject::connect(&edit, &QPlainTextEdit::textChanged, &flush, qOverload<>(&QTimer::start));

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            commands.setEnabled(false);  // stdin closed: no more commands
            return;
        }
        // "clear <n>": empty the edit, then confirm with <n> in the ".ack" file, so the
        // sender knows the edit is empty before it types again.
        for (const QByteArray& line : QByteArray(buf, static_cast<int>(n)).split('\n')) {
            if (!line.startsWith("clear")) continue;
            edit.clear();
            writeAtomically(outPath, QByteArray());
            writeAtomically(outPath + QStringLiteral(".ack"), line.mid(5).trimmed());
        }
    });

    writeAtomically(outPath, QByteArray());
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &edit, [&](QWindow* w) {
        if (w && w == edit.windowHandle() && !QFile::exists(outPath + QStringLiteral(".focus")))
            writeAtomically(outPath + QStringLiteral(".focus"), "1");
    });
    edit.show();
    edit.setFocus();
    QTimer::singleShot(0, [&] {
        writeAtomically(outPath + QStringLiteral(".wid"), QByteArray::number(edit.winId()));
    });
    return app.exec();
}
