// The desktop shell: opening an address or a file with its default handler, asking which
// program handles a file, and starting a program.
#pragma once

#include <QString>

namespace quorvel {

class Shell {
public:
    virtual ~Shell() = default;
    // Opens an address or file with the desktop's default handler (xdg-open).  False when
    // the handler could not even be started.
    virtual bool open(const QString& target) = 0;
    // The desktop's default handler for a file, as the MIME database answers it (the desktop
    // entry's id, such as "firefox-esr.desktop"); empty when there is none.
    virtual QString findHandler(const QString& filePath) = 0;
    // Starts a program from a command line, detached; with `minimisedNoActivate` it is asked
    // to start minimised without taking the focus where the desktop allows.  False when it
    // could not be started.
    virtual bool startProgram(const QString& commandLine, bool minimisedNoActivate) = 0;
};

}  // namespace quorvel
