#include "messages.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {
MessageBoxHandler g_handler;

int ShowDialog(const MessageBoxRequest& request) {
  QMessageBox box;
  box.setText(QString::fromStdString(request.text));
  box.setWindowTitle(QString::fromStdString(request.caption));
  const unsigned icon = request.flags & 0xF0;
  box.setIcon(icon == MB_ICONEXCLAMATION ? QMessageBox::Warning
              : icon == MB_ICONHAND      ? QMessageBox::Critical
                                         : QMessageBox::NoIcon);
  if ((request.flags & 0x0F) == MB_OKCANCEL) {
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  // The application's box disables the program's other windows; the plain one has no owner.
  box.setWindowModality(request.application_owned ? Qt::ApplicationModal : Qt::NonModal);
  box.setObjectName(request.application_owned ? "applicationMessageBox" : "plainMessageBox");
  return box.exec() == QMessageBox::Cancel ? IDCANCEL : IDOK;
}
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(g_handler);
  g_handler = std::move(handler);
  return previous;
}

int MessageBoxA(void*, const char* text, const char* caption, unsigned flags) {
  return ShowMessageBox(
      {text != nullptr ? text : "", caption != nullptr ? caption : "", flags, false});
}

int ShowMessageBox(const MessageBoxRequest& request) {
  if (g_handler) return g_handler(request);
  return ShowDialog(request);
}

}  // namespace platform
