// SPDX-License-Identifier: GPL-3.0-or-later
// The output file of one recovered file, written so that a failure never
// costs a good file.
//
// The content goes into a new temporary file in the target's folder (same
// file system, so the final step is atomic), made so that the file system
// removes it by itself if the process dies before Commit: on Linux an
// unnamed file (O_TMPFILE) that Commit links to the target name, on Windows
// a file marked for deletion until Commit. Only Commit puts it at the target
// path, replacing a file of that name in one step (a rename); until then an
// existing target stays exactly as it was, and destroying an uncommitted
// output file removes the temporary file. Where a file system refuses
// unnamed files, a named one (TempFileName) is used instead. Platform code
// lives in output_file_linux.cpp / output_file_win.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "recover/content_sink.h"

namespace recover {

class TOutputFile : public TContentSink {
public:
    // Gives the file its final size (bytes past the last write read as zeros
    // and take no space where holes exist), closes it and renames it onto the
    // target path. False when any of that failed; the temporary file is then
    // removed and the target left as it was.
    virtual bool Commit(std::uint64_t size) = 0;
    // The same onto `targetPath` instead of the path the file was made for
    // (a name chosen once the content is written); a path in the same folder.
    virtual bool CommitAs(const std::string& targetPath, std::uint64_t size) = 0;
    // The temporary file's path (for tests and messages); empty while it is
    // an unnamed file.
    virtual const std::string& TempPath() const = 0;
    // The system's error number (errno; GetLastError on Windows) of the
    // first write or commit step that failed, 0 if none did.
    virtual int Error() const = 0;
};

// Creates the temporary file for `targetPath` (UTF-8). Empty when the folder
// cannot take a new file (errno / GetLastError tells why). On Linux it also
// makes a write past the file size limit fail with EFBIG instead of raising
// SIGXFSZ, unless the program handles that signal itself.
std::unique_ptr<TOutputFile> CreateOutputFile(const std::string& targetPath);

// The temporary file for a file of `folder` (UTF-8; empty: the current
// folder) whose name is chosen later: it is committed with CommitAs only.
std::unique_ptr<TOutputFile> CreateOutputFileIn(const std::string& folder);

// errno, or GetLastError on Windows: why CreateOutputFile returned empty.
int LastSystemError();

// The folder part of a target path up to and including its last separator,
// empty when it has none: the temporary file is this prefix + its own name,
// so it lies in the target's folder. On Windows (`windowsPaths`) "\\" and the
// ":" of a drive ("C:name") separate too.
std::string FolderPrefix(const std::string& targetPath, bool windowsPaths);

// The temporary file's name for the given unique number.
std::string TempFileName(std::uint64_t unique);

// Whether `name` is one TempFileName gives.
bool IsTempFileName(const std::string& name);

// Removes the named temporary files in `folder` (UTF-8; empty: the current
// folder) that no running process is writing: those left by a run that was
// killed. On Linux each named temporary file is locked while its writer has
// it open, so one still being written is never touched; on Windows the
// system removes them by itself. Files of other names are never touched.
void RemoveStaleTempFiles(const std::string& folder);

// Removes this process's named temporary files. Safe to call from a signal
// handler (it only unlinks paths kept ready for it), so that a run ended by
// SIGINT or SIGTERM leaves none behind.
void RemoveOwnTempFiles() noexcept;

// Makes the unnamed temporary file refused on Linux, as FAT, exFAT and FUSE
// folders refuse it, so that the named fallback can be tested anywhere. The
// environment variable LUMBRA_TEST_NO_TMPFILE=1 does the same for a whole
// process (the command line, run by tests).
void RefuseUnnamedTempFilesForTesting(bool refuse);

}  // namespace recover
