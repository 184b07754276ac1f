#include "ui/ui_text.h"

#include <cstring>

#include "platform/cp949.h"

namespace veldrane::ui {

QString FromCp949(const std::string& bytes) {
  return QString::fromStdString(platform::Cp949ToUtf8(bytes));
}

QString FromCp949(const char* bytes) {
  return bytes ? QString::fromStdString(platform::Cp949ToUtf8(bytes, std::strlen(bytes)))
               : QString();
}

std::string ToCp949(const QString& text) {
  return platform::Utf8ToCp949(text.toStdString());
}

}  // namespace veldrane::ui
