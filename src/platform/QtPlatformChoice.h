// Which of Qt's platforms the program runs on, chosen from the session before the
// application object exists.
#pragma once

namespace quorvel {

// Sets QT_QPA_PLATFORM unless the user did: a native Wayland client under Wayland when
// Qt's Wayland plugin is installed (typing then uses the compositor's own ways), X11
// wherever an X display is (XWayland included), and a virtual screen where there is no
// display at all, so that the program still starts and says why nothing shows.
void chooseQtPlatform();

}  // namespace quorvel
