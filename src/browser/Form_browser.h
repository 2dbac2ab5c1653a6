// Browser launch and help: the parts of the main window that are not its own methods.
#pragma once

namespace quorvel {

class TMainForm;

// The Goto command (button click, "Goto URL", a double click on the list): the current
// site in the browser's current window, then the focus back to the list.
void gotoButClick(TMainForm& form);

}  // namespace quorvel
