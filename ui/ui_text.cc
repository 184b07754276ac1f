#include "ui/ui_text.h"

#include <QFile>
#include <cstring>

#include "platform/text/cp949.h"

namespace veldrane::ui {

QString FromCp949(const std::string& bytes) {
  return QString::fromStdString(platform::Cp949ToUtf8(bytes));
}

QString FromCp949(const char* bytes) {
  return bytes ? QString::fromStdString(platform::Cp949ToUtf8(bytes, std::strlen(bytes)))
               : QString();
}

bool ToCp949Exact(const QString& text, std::string* out, qsizetype* bad_at) {
  const QByteArray utf8 = text.toUtf8();
  size_t bad = 0;
  if (platform::Utf8ToCp949Exact(utf8.constData(), static_cast<size_t>(utf8.size()), out, &bad)) {
    return true;
  }
  // The byte offset back to an index of the string: the text before it, converted again.
  *bad_at = QString::fromUtf8(utf8.constData(), static_cast<qsizetype>(bad)).size();
  return false;
}

QString CharacterAt(const QString& text, qsizetype at) {
  if (at < 0 || at >= text.size()) return QString();
  bool pair = text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate();
  return text.mid(at, pair ? 2 : 1);
}

QString FromFileName(const std::string& name) {
  return QFile::decodeName(QByteArray::fromStdString(name));
}

}  // namespace veldrane::ui
