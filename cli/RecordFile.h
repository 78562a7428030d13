#pragma once
// Appends one record to a log the robust way: the whole line in one write() on a file opened
// for appending (two writers never interleave inside a line), starting on a fresh line when
// the file does not end in one (a writer that died mid-line), and on disk (fsync) before the
// caller goes on.

#include <QString>
#include <optional>
#include <string>

namespace q218::flash {

// Empty when the line is on disk; else why not. `line` ends without a newline.
std::string AppendRecord(const std::string& path, const std::string& line);
// Whether the log can be opened for appending (created when missing); empty when it can.
std::string CheckRecordFile(const std::string& path);
// The path of the --log file as the file system takes it, once the log is known to open;
// empty without --log. Nothing when it cannot be opened, having said why on standard error:
// a run whose record cannot be kept does not start.
std::optional<std::string> CheckedLogPath(const std::optional<QString>& logFile);

}  // namespace q218::flash
