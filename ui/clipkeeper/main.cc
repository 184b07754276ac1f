// veldrane-clipkeeper: keeps the stations that the configuration window copied on the clipboard
// after the window has closed, on an X display without a clipboard manager. The window starts it
// with the text on standard input; it takes the clipboard, serves the text to every program that
// pastes, and ends as soon as another program takes the clipboard (or the display goes).
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: veldrane-clipkeeper < TEXT\n"
    "Puts TEXT (UTF-8, read from standard input) on the clipboard of the X display named by\n"
    "DISPLAY and serves it until another program takes the clipboard; then ends. The\n"
    "configuration window starts it when it closes while it holds the clipboard and no\n"
    "clipboard manager runs.\n"
    "Exit status: 0 after another program took the clipboard, 1 when the clipboard could not\n"
    "be taken, 2 usage.\n";

std::string ReadAll(FILE* in) {
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // Nothing of the program that started it stays open here but the standard streams.
  ::close_range(3, ~0U, 0);
  std::string text = ReadAll(stdin);
  QGuiApplication app(argc, argv);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (!clipboard->ownsClipboard()) {
    std::fputs("veldrane-clipkeeper: the clipboard could not be taken\n", stderr);
    return 1;
  }
  QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
    if (!clipboard->ownsClipboard()) QCoreApplication::quit();
  });
  return app.exec();
}
