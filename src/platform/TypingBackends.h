// The keyboard and active-window layers for this desktop, chosen once at start-up from
// the platform Qt runs on.
#pragma once

#include <QString>
#include <memory>

#include "typing/core/Keyboard.h"

namespace quorvel {

struct TypingBackends {
    std::unique_ptr<Keyboard> keyboard;
    std::unique_ptr<ActiveWindow> activeWindow;
    // When typing cannot work here: what this desktop lacks, said to the user at Type.
    QString missing;
};

// `dataFolder` is where a layer may keep what it must remember between runs.
TypingBackends makeTypingBackends(const QString& dataFolder);

}  // namespace quorvel
