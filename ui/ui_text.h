// Code page 949 bytes to the toolkit's Unicode strings and back, where the window shows text.
#pragma once

#include <QString>
#include <string>

namespace veldrane::ui {

QString FromCp949(const std::string& bytes);
QString FromCp949(const char* bytes);
// Characters that code page 949 lacks become '?'.
std::string ToCp949(const QString& text);

}  // namespace veldrane::ui
