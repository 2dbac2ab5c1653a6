// The desktop shell of a freedesktop.org desktop: xdg-open for addresses and files, the
// MIME database's default applications, detached program starts.
#pragma once

#include <QStringList>

#include "platform/Shell.h"

namespace quorvel {

class DesktopShell : public Shell {
public:
    bool open(const QString& target) override;
    QString findHandler(const QString& filePath) override;
    // X11 has no way to ask for another program's first window to stay minimised and
    // unfocused (its iconic state and user time are the program's own to set), so
    // `minimisedNoActivate` is accepted and the window manager places the window.
    bool startProgram(const QString& commandLine, bool minimisedNoActivate) override;
};

// A program setting as program and arguments: a text naming an existing file is that
// program alone (so a path with blanks needs no quotes); anything else is split as a
// shell splits a simple command line, quotes allowed.  Empty when there is no program.
QStringList programCommand(const QString& commandLine);

}  // namespace quorvel
