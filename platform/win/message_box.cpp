#include "platform/message_box.h"

#include <windows.h>

namespace platform {

void showMessageBox(const std::wstring& text, const std::wstring& caption) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

}  // namespace platform
