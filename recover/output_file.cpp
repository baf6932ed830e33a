// SPDX-License-Identifier: GPL-3.0-or-later
#include "recover/output_file.h"

#include <string_view>

#include "ntfs/text.h"
#include "recover/target_name.h"

namespace recover {

std::string FolderPrefix(const std::string& targetPath, bool windowsPaths) {
    const char* separators = windowsPaths ? "/\\:" : "/";
    const std::size_t last = targetPath.find_last_of(separators);
    if (last == std::string::npos) return {};
    return targetPath.substr(0, last + 1);
}

std::unique_ptr<TOutputFile> CreateOutputFileIn(const std::string& folder) {
    // Only the folder part of the path counts until CommitAs names the file.
    return CreateOutputFile(JoinTargetPath(folder, "*", HostNameRules()));
}

std::string TempFileName(std::uint64_t unique) {
    // A leading dot hides it from a plain listing on Linux; the suffix tells a
    // user who finds one after a crash what it is.
    return ".lumbra-" + ntfs::HexUpper(unique, 16) + ".part";
}

bool IsTempFileName(const std::string& name) {
    static constexpr std::string_view kHead = ".lumbra-";
    static constexpr std::string_view kTail = ".part";
    if (name.size() != kHead.size() + 16 + kTail.size()) return false;
    if (name.compare(0, kHead.size(), kHead) != 0) return false;
    if (name.compare(name.size() - kTail.size(), kTail.size(), kTail) != 0) return false;
    for (std::size_t i = kHead.size(); i < kHead.size() + 16; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

}  // namespace recover
