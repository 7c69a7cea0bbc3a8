// The installer's three plain-text logs. Every call is one complete line: open, append, close.
// Nothing is buffered or kept open, no line is timestamped, and logging never fails its caller.
// A log is appended to only while it is a regular file with one link (or absent, and then made):
// one planted as a link of any kind would carry the lines to a file outside, so it gets no line,
// as a log that cannot be opened.
#pragma once

#include <cstdio>
#include <string>

// Appends `text` and one LF to "updater.log" in the current directory (binary append). A log
// that cannot be opened loses the line silently.
void writeLog(const std::string& text);

// Appends `text` and one LF to the log at `path`, opened through openFileChecked ("ab+"). When
// the open fails the line is lost; openFileChecked has already logged why.
void appendLogLine(const std::string& path, const std::string& text);

// printf-style line to "pack.log" in the current directory (text append: lines end in CR LF
// on every platform). A formatted line is cut at 99 bytes.
void packLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens `path` after clearing its read-only state; a path longer than 259 characters is never
// opened (a shortened one would name another file). On failure returns nullptr, sets
// *notOpened when given, and writes path + " does not exist!" or path +
// " file exist but can not open!" to the working-directory log.
[[nodiscard]] FILE* openFileChecked(const std::string& path, const char* mode,
                                    bool* notOpened = nullptr);

// The "<accountName>...</accountName>" element of the per-user preferences file, tags
// included, plus the one byte after the closing tag; empty when the file or a tag is missing.
[[nodiscard]] std::string getAccountName();

// The per-user "preferences.xml" path (application-data folder + the game's sub-path).
[[nodiscard]] std::string preferencesPath();
