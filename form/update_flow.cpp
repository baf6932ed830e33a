// SPDX-License-Identifier: GPL-3.0-or-later
#include "form/update_flow.h"

#include <limits>

#include "form/texts.h"
#include "ntfs/text.h"

namespace form {

void RunUpdateCheck(TUpdateSteps& steps) {
    const std::optional<std::string> body = steps.FetchVersionFile();
    if (!body) return;
    // What was saved is read back, as the memo would load it; the version
    // is the file's second line by its own line breaks, not by where the
    // memo happens to wrap.
    const std::optional<std::u16string> text = steps.KeepVersionFile(*body);
    if (!text) return;
    steps.ShowVersionFile(SplitLines(*text));
    if (!ShouldAskForUpdate(PublishedVersionLine(*text), steps.RunningVersion(), steps.ExecutableUrl()))
        return;
    if (!steps.Ask(texts::kUpdateQuestion, TQuestionKind::Information)) return;
    steps.ShowWaitHint();
    // A third line that claims a digest but does not give one stops the
    // update: the file could not be checked as its publisher meant.
    const std::optional<TSha256> digest = PublishedSha256(*text);
    if (digest || !ClaimsSha256(*text)) steps.DownloadAndSwap(digest);
    steps.HideWaitHint();
}

std::u16string DecodeVersionFile(std::string_view bytes,
                                 const std::function<std::u16string(std::string_view)>& systemCodePage) {
    const auto utf16 = [](std::string_view b, bool bigEndian) {
        std::u16string out;
        out.reserve(b.size() / 2);
        for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(b[bigEndian ? i + 1 : i]);
            const auto hi = static_cast<unsigned char>(b[bigEndian ? i : i + 1]);
            out += static_cast<char16_t>(lo | hi << 8);
        }
        return out;
    };
    if (bytes.starts_with("\xEF\xBB\xBF")) return ntfs::Utf8ToUtf16(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return utf16(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return utf16(bytes.substr(2), true);
    return systemCodePage(bytes);
}

TScreenRect WaitHintRect(int virtualWidth, int virtualHeight, const std::vector<TScreenRect>& monitors) {
    const int left = virtualWidth / 2 - 100;
    const int top = virtualHeight / 2 - 100;
    TScreenRect box{left, top, left + 300, top + 64};

    const TScreenRect* nearest = nullptr;
    long long best = std::numeric_limits<long long>::max();
    for (const TScreenRect& m : monitors) {
        const long long dx = box.Left < m.Left     ? m.Left - box.Left
                             : box.Left >= m.Right ? box.Left - (m.Right - 1)
                                                   : 0;
        const long long dy = box.Top < m.Top       ? m.Top - box.Top
                             : box.Top >= m.Bottom ? box.Top - (m.Bottom - 1)
                                                   : 0;
        const long long d = dx * dx + dy * dy;
        if (d < best) {
            best = d;
            nearest = &m;
        }
    }
    if (!nearest) return box;
    const TScreenRect& m = *nearest;
    const auto shift = [&box](int dx, int dy) {
        box.Left += dx;
        box.Right += dx;
        box.Top += dy;
        box.Bottom += dy;
    };
    if (box.Right > m.Right) shift(m.Right - box.Right, 0);
    if (box.Bottom > m.Bottom) shift(0, m.Bottom - box.Bottom);
    if (box.Left < m.Left) shift(m.Left - box.Left, 0);
    if (box.Top < m.Top) shift(0, m.Top - box.Top);
    return box;
}

}  // namespace form
