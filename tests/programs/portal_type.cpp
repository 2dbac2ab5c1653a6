// Types a keystroke script through the portal keyboard layer, as the desktop user, for the
// test against a real desktop portal (the portal serves only its own user's bus).
//
// usage: portal_type <data folder> <script>
// Prints "open: <message>" and "left out: <characters>", one line each.
#include <QApplication>
#include <cstdio>

#include "platform/portal/PortalKeyboard.h"
#include "typing/core/KeyfillEngine.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: portal_type <data folder> <script>\n");
        return 2;
    }
    quorvel::portal::PortalKeyboard keyboard(QDBusConnection::sessionBus(),
                                             QString::fromLocal8Bit(argv[1]));
    const std::string refused = keyboard.open();
    std::printf("open: %s\n", refused.c_str());
    if (!refused.empty()) return 1;
    quorvel::KeyfillEngine engine(keyboard, {});
    engine.run(argv[2]);
    std::printf("left out: %s\n", QString::fromUcs4(engine.leftOut().data(),
                                                    static_cast<qsizetype>(engine.leftOut().size()))
                                      .toUtf8()
                                      .constData());
    return 0;
}
