// Types a keystroke script through the portal layers, as the desktop user, for the test
// against a real desktop portal (the portal serves only its own user's bus).
//
// usage: portal_type [--step-aside] [--var {name}=value]... <data folder> <script>
// With --step-aside it first shows a window of its own, waits until that has the keyboard,
// and steps it aside as the Type button does, then brings it back after the run.  Each
// --var lists a variable as the program's variable table would.
// Prints "open: <message>", "front: <0|1>", "aside: <0|1>", "run: <milliseconds>",
// "back: <0|1>" and "left out: <characters>".
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <cstdio>
#include <map>

#include "platform/portal/PortalActiveWindow.h"
#include "platform/portal/PortalKeyboard.h"
#include "typing/core/KeyfillEngine.h"

using namespace quorvel;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    bool stepAside = false;
    std::map<std::string, std::string> vars;  // upper-cased braced name, value
    while (args.size() > 1 && args[1].startsWith(QLatin1String("--"))) {
        if (args[1] == QLatin1String("--step-aside")) {
            stepAside = true;
        } else if (args[1] == QLatin1String("--var") && args.size() > 2) {
            const qsizetype eq = args[2].indexOf(QLatin1Char('='));
            vars[args[2].left(eq).toUpper().toStdString()] = args[2].mid(eq + 1).toStdString();
            args.removeAt(1);
        } else {
            break;
        }
        args.removeAt(1);
    }
    if (args.size() < 3) {
        std::fprintf(stderr,
                     "usage: portal_type [--step-aside] [--var {name}=value]... <data folder> "
                     "<script>\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    portal::PortalKeyboard keyboard(QDBusConnection::sessionBus(), args[1]);
    const std::string refused = keyboard.open();
    std::printf("open: %s\n", refused.c_str());
    if (!refused.empty()) return 1;

    portal::PortalActiveWindow active;
    QLabel window(QStringLiteral("Quorvel stand-in window"));
    if (stepAside) {
        window.resize(300, 100);
        window.show();
        QElapsedTimer t;
        t.start();
        while (!active.focusIn({}) && t.elapsed() < 10000)
            app.processEvents(QEventLoop::WaitForMoreEvents, 100);
        std::printf("front: %d\n", active.focusIn({}) ? 1 : 0);
        std::printf("aside: %d\n",
                    active.activate(portal::PortalActiveWindow::kWindowBefore, {},
                                    std::chrono::seconds(5))
                        ? 1
                        : 0);
    }
    KeyfillHooks hooks;
    hooks.inVars = [&](const std::string& name) { return vars.count(name) > 0; };
    hooks.valueOf = [&](const std::string& name) { return vars[name]; };
    KeyfillEngine engine(keyboard, hooks);
    QElapsedTimer took;
    took.start();
    engine.run(args[2].toStdString());
    std::printf("run: %lld ms\n", static_cast<long long>(took.elapsed()));
    if (stepAside) {
        active.runEnded();
        std::printf("back: %d\n", window.isVisible() && !window.isMinimized() ? 1 : 0);
    }
    std::printf("left out: %s\n",
                QString::fromUcs4(engine.leftOut().data(),
                                  static_cast<qsizetype>(engine.leftOut().size()))
                    .toUtf8()
                    .constData());
    return 0;
}
