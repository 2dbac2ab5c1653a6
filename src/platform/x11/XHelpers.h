// Small Xlib helpers shared by the keyboard and active-window layers.  Only their .cpp
// files include this, so Xlib's macros never meet Qt's headers.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

namespace quorvel::x11 {

// Catches X errors for the calls made during its lifetime, instead of letting the default
// handler end the process (a window can vanish between two requests).
class ErrorTrap {
public:
    explicit ErrorTrap(Display* dpy);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    // Waits for the server and tells whether any request failed so far.
    bool failed();

private:
    Display* dpy_;
    XErrorHandler previous_;
};

Display* openDisplay(const std::string& name);  // "" -> $DISPLAY; nullptr when impossible

// One 32-bit-format property as a list of values; empty when missing.
std::vector<unsigned long> cardinalProperty(Display* dpy, Window w, Atom property, Atom type);
bool hasProperty(Display* dpy, Window w, Atom property);

// Sends `target` a _NET_WM_PING.  Clients send the message back whole to the root window,
// to those listening there with StructureNotify (Qt) or SubstructureNotify (GTK), so an
// unused field carries `token` to tell this ping's answer apart.
void sendPing(Display* dpy, Window target, long token);
bool isPingAnswer(Display* dpy, const XEvent& ev, long token);

// The window manager's check window when a live EWMH window manager runs, else 0.
Window ewmhCheckWindow(Display* dpy);
bool ewmhSupports(Display* dpy, Atom hint);

// The top-level window of `w` as clients see it: the ancestor carrying WM_STATE, or a
// WM_STATE window below the frame, or else the child of the root.  0 for the root itself.
Window topLevelOf(Display* dpy, Window w);
// The top-level window that receives the keyboard: the input focus's, or the one under the
// pointer when the focus follows it.  0 when there is none.
Window focusTopLevel(Display* dpy);

}  // namespace quorvel::x11
