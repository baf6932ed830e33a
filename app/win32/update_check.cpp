// SPDX-License-Identifier: GPL-3.0-or-later
// TMainForm's update check on Win32, run once while the window is being
// shown and before it is first drawn: fetch the version file, keep it as
// "ver.txt", compare its second line with this executable's file version
// (number by number, form/update_rules.h), and on the user's consent download
// the new executable beside "Lumbra.exe" and swap it in, keeping the old one
// as "Lumbra.old". Names are relative to the working directory. No failure is
// ever shown: the endpoint built in by default never resolves, and the check
// then ends at once.
//
// The executable comes only over https with the server's certificate checked,
// and, when the version file's third line publishes "sha256=<hex>", only with
// that digest.
#include "app/win32/main_window.h"

#include <climits>

#include "app/win32/wait_hint.h"
#include "form/texts.h"
#include "form/update_flow.h"
#include "platform/file_version.h"
#include "update/swap.h"

namespace win32app {

namespace {

// The version file is small: the whole request must end within this.
constexpr std::chrono::milliseconds kVersionLimit{10'000};
// The download may take long, but not this long without a byte.
constexpr std::chrono::milliseconds kDownloadStallLimit{30'000};

std::string UpdateUrl(std::string_view path) {
    return std::string(LUMBRA_UPDATE_URL) + std::string(path);
}

std::filesystem::path Name(std::string_view name) {
    return std::filesystem::path(std::string(name));
}

// Bytes without a byte-order mark are in the system's ANSI code page.
std::u16string DecodeAnsi(std::string_view b) {
    std::u16string out;
    if (b.empty() || b.size() > INT_MAX) return out;
    const int n = MultiByteToWideChar(CP_ACP, 0, b.data(), static_cast<int>(b.size()), nullptr, 0);
    if (n <= 0) return out;
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, b.data(), static_cast<int>(b.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

// "ver.txt" holds exactly what the server sent: created or replaced.
bool SaveWhole(const std::filesystem::path& name, const std::string& bytes) {
    if (bytes.size() > MAXDWORD) return false;
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    return CloseHandle(file) && ok;
}

std::optional<std::string> LoadWhole(const std::filesystem::path& name) {
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != FALSE) && read > 0) {
        bytes.append(buffer, read);
        if (bytes.size() > update::kMaxBody) ok = false;
        if (!ok) break;
    }
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return bytes;
}

// The update blocks the UI thread by design; only the wait box's paint
// messages are let through meanwhile, so it reads right when uncovered.
void PaintWhileWaiting() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) DispatchMessageW(&msg);
}

}  // namespace

void TMainForm::FormShow() {
#if LUMBRA_SELF_UPDATE
    CheckForUpdate();
#endif
}

#if LUMBRA_SELF_UPDATE

std::u16string TMainForm::GetFileVersionString(const std::filesystem::path& path) {
    return form::VersionText(platform::ReadFileVersion(path).value_or(platform::TFileVersion{}));
}

// The window's part of each step; the order and the decisions are
// form::RunUpdateCheck's.
class TMainForm::TUpdateSteps : public form::TUpdateSteps {
public:
    explicit TUpdateSteps(TMainForm& form) : m_form(form) {}

    std::optional<std::string> FetchVersionFile() override {
        update::TRequest request;
        request.Url = UpdateUrl(form::kVersionFilePath);
        request.Total = kVersionLimit;
        request.Stall = kVersionLimit;
        return update::GetToMemory(*m_form.idhtp1, request);
    }
    std::optional<std::u16string> KeepVersionFile(const std::string& bytes) override {
        const std::filesystem::path versionFile = Name(form::kVersionFileName);
        if (!SaveWhole(versionFile, bytes)) return std::nullopt;
        const std::optional<std::string> saved = LoadWhole(versionFile);
        if (!saved) return std::nullopt;
        return form::DecodeVersionFile(*saved, DecodeAnsi);
    }
    void ShowVersionFile(const std::vector<std::u16string>& lines) override {
        std::u16string memo;
        for (const std::u16string& line : lines) {
            if (!memo.empty()) memo += u"\r\n";
            memo += line;
        }
        m_form.Memo1.SetText(Wide(memo));
    }
    std::u16string RunningVersion() override {
        wchar_t self[32768] = {};
        const DWORD n = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
        // An unknown version is never older than a published one.
        if (n == 0 || n >= std::size(self)) return {};
        return GetFileVersionString(self);
    }
    std::string ExecutableUrl() override { return UpdateUrl(form::kExecutablePath); }
    bool Ask(std::u16string_view text, form::TQuestionKind kind) override { return m_form.Ask(text, kind); }
    void ShowWaitHint() override { m_form.ShowWaitHint(); }
    void HideWaitHint() override { m_form.HideWaitHint(); }
    void DownloadAndSwap(const std::optional<form::TSha256>& digest) override {
        m_form.DownloadUpdate(digest);
    }

private:
    TMainForm& m_form;
};

void TMainForm::CheckForUpdate() {
    Memo1.SetText(L"");
    if (!idhtp1) idhtp1 = update::MakeHttpClient();
    TUpdateSteps steps(*this);
    form::RunUpdateCheck(steps);
}

void TMainForm::DownloadUpdate(const std::optional<form::TSha256>& digest) {
    if (!idhtp1) return;
    update::TSwapPlan plan;
    plan.Request.Url = UpdateUrl(form::kExecutablePath);
    plan.Request.Stall = kDownloadStallLimit;
    plan.Request.WhileWaiting = PaintWhileWaiting;
    plan.Sha256 = digest;
    plan.Target = Name(form::kExecutableName);
    plan.Old = Name(form::kOldExecutableName);
    plan.RefuseRunningImage = true;
    update::DownloadAndSwap(*idhtp1, plan);
}

void TMainForm::ShowWaitHint() {
    if (!MyNoWaitWnd) MyNoWaitWnd = std::make_unique<TWaitHint>();
    MyNoWaitWnd->ActivateHint(m_hwnd, WaitHintRect(), std::wstring(Wide(form::texts::kWaitCaption)));
    MyNoWaitWnd->DrawMessage({60, 20}, std::wstring(Wide(form::texts::kWaitMessage)));
}

void TMainForm::HideWaitHint() {
    if (MyNoWaitWnd) MyNoWaitWnd->ReleaseWindow();
}

#endif  // LUMBRA_SELF_UPDATE

}  // namespace win32app
