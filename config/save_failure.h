// The words of a failed save for the person who can mend it: what failed, naming the file and
// the system's reason, and what to do about it where there is something to do.
#pragma once

#include <string>

namespace veldrane {

// `failure` is the failed save's own message (which names the file), `sys_error` the system's
// error number (0 when none). A refused permission is told apart: on the file itself (it is
// read-only for this user) or on its folder (a save creates its new file beside the old one,
// so the folder must be writable).
std::string SaveFailureText(const std::string& path, const std::string& failure, int sys_error);

}  // namespace veldrane
