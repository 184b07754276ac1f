// The runner's console lines as a service writes them. Under systemd, with standard output or
// error connected to the journal (JOURNAL_STREAM names that stream as DEVICE:INODE), every line
// starts with the journal's priority "<N>", so that the journal keeps errors, warnings and
// notices apart; blank lines are left out there. Anywhere else the lines are written as given.
#pragma once

#include <cstdio>
#include <string>

namespace veldrane::host {

enum class Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

// Whether `fd` is the stream that `journal_stream` ("DEVICE:INODE", or null) names.
bool IsJournalStream(int fd, const char* journal_stream);

// An event-log line's priority by its level (0 setting up failed, 1 one frame failed, 2 a change
// of state); a station that can no longer be reached is a warning, although a change of state.
Priority EventPriority(int level, const char* line);

// Looks once at JOURNAL_STREAM and at standard output and error.
void InitConsoleLines();
// Whether standard output goes to the journal, which stamps each line with its time itself.
bool OutputToJournal();
// Writes each line of `text` to `out` (stdout or stderr) and flushes it.
void PrintLines(std::FILE* out, Priority priority, const std::string& text);
// The runner's own message, "veldrane-host: TEXT", on standard error after what standard output
// holds.
void Tell(Priority priority, const std::string& text);

}  // namespace veldrane::host
