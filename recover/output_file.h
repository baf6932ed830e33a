// The output file of one recovered file, written so that a failure never
// costs a good file.
//
// The content goes into a new temporary file in the target's folder (same
// file system, so the final rename is atomic). Only Commit renames it onto
// the target path, replacing a file of that name in one step; until then an
// existing target stays exactly as it was, and destroying an uncommitted
// output file removes the temporary file. Platform code lives in
// output_file_linux.cpp / output_file_win.cpp.
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
    // The temporary file's path (for tests and messages).
    virtual const std::string& TempPath() const = 0;
};

// Creates the temporary file for `targetPath` (UTF-8). Empty when the folder
// cannot take a new file.
std::unique_ptr<TOutputFile> CreateOutputFile(const std::string& targetPath);

// The folder part of a target path up to and including its last separator,
// empty when it has none: the temporary file is this prefix + its own name,
// so it lies in the target's folder. On Windows (`windowsPaths`) "\\" and the
// ":" of a drive ("C:name") separate too.
std::string FolderPrefix(const std::string& targetPath, bool windowsPaths);

// The temporary file's name for the given unique number.
std::string TempFileName(std::uint64_t unique);

}  // namespace recover
