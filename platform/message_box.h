// The modal message box with a single OK button.
#pragma once

#include <string>

namespace platform {

// Shows the text and waits until the user closes the box. Where no display
// can show it, the text goes to standard error and the call returns at once.
void showMessageBox(const std::wstring& text, const std::wstring& caption);

}  // namespace platform
