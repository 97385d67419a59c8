// Message boxes. Every box the station shows goes through one handler, which tests replace to
// record each box and answer it without a modal dialog.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Buttons and icons, and the answers.
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_OKCANCEL = 0x01;
inline constexpr unsigned MB_ICONHAND = 0x10;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

struct MessageBoxRequest {
  std::string text;
  std::string caption;
  unsigned flags = 0;
  bool application_owned = false;  // the application's box, which disables its windows
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs a handler; an empty one restores the real dialogs. Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The plain box without owner window.
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned flags);

// Shows a box through the current handler (the real dialog when none is installed).
int ShowMessageBox(const MessageBoxRequest& request);

}  // namespace platform
