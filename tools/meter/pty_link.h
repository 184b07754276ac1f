// The symbolic link of --link: a port-map entry (or any path) that names the meter's
// pseudo-terminal while it runs. Only a symbolic link (a stale one from an earlier run) or
// nothing is replaced; anything else at the path is refused and left alone. At the end the link
// is removed only while it still names this meter's terminal, so that a second meter that took
// the path over keeps its link.
#pragma once

#include <string>

namespace veldrane::meter {

class PtyLink {
 public:
  PtyLink() = default;
  ~PtyLink();
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  // Makes `path` a symbolic link to `target`; false with the reason in `error`.
  bool Make(const std::string& path, const std::string& target, std::string* error);

 private:
  std::string path_;
  std::string target_;
};

}  // namespace veldrane::meter
