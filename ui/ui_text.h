// Code page 949 bytes to the toolkit's Unicode strings and back, where the window shows text,
// and the system's file names (UTF-8 on this system), which are shown as they are.
#pragma once

#include <QString>
#include <string>

namespace veldrane::ui {

QString FromCp949(const std::string& bytes);
QString FromCp949(const char* bytes);

// Exact: false when `text` holds a character that code page 949 lacks (it would be stored as a
// '?', and two names would become one), with that character's place in *bad_at (an index into
// `text`). `out` holds the bytes on success.
bool ToCp949Exact(const QString& text, std::string* out, qsizetype* bad_at);
// The character (one or two UTF-16 units) that starts at `at`.
QString CharacterAt(const QString& text, qsizetype at);

// A file name or path as the system gives it.
QString FromFileName(const std::string& name);

}  // namespace veldrane::ui
