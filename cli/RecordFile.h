#pragma once
// Appends one record to a log the robust way: the whole line in one write() on a file opened
// for appending (two writers never interleave inside a line), starting on a fresh line when
// the file does not end in one (a writer that died mid-line), and on disk (fsync) before the
// caller goes on.

#include <string>

namespace q218::flash {

// Empty when the line is on disk; else why not. `line` ends without a newline.
std::string AppendRecord(const std::string& path, const std::string& line);
// Whether the log can be opened for appending (created when missing); empty when it can.
std::string CheckRecordFile(const std::string& path);

}  // namespace q218::flash
