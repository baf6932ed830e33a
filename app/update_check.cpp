// SPDX-License-Identifier: GPL-3.0-or-later
// TMainForm's update check. See update_check.h for the run of it; the notes
// here say where it departs from the obvious way to write it.
#include "app/update_check.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "app/main_form.h"
#include "app/version_text.h"
#include "app/wait_hint.h"
#include "form/update_flow.h"
#include "platform/file_version.h"
#include "update/swap.h"

namespace app {

namespace {

std::filesystem::path FsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

QString Latin(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The question: only Yes consents; Cancel, Escape or closing the box do not.
bool AskForUpdate() {
    QMessageBox box(QMessageBox::Information, QString::fromUtf16(form::texts::kUpdateTitle.data()),
                    QString::fromUtf16(kUpdateQuestion), QMessageBox::NoButton);
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == yes;
}

// "ver.txt" holds exactly what the server sent: created or replaced.
bool SaveWhole(const QString& name, const std::string& bytes) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const auto size = static_cast<qint64>(bytes.size());
    const bool written = file.write(bytes.data(), size) == size;
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

}  // namespace

QString BuiltInUpdateUrl() {
    return QStringLiteral(LUMBRA_UPDATE_URL);
}

QString TMainForm::GetFileVersionString(const QString& path) {
    const auto version = platform::ReadFileVersion(FsPath(path));
    return VersionText(version.value_or(platform::TFileVersion{}));
}

QString TMainForm::UpdateUrl(const char* path) const {
    const QString base = UpdateSettings.BaseUrl.isEmpty() ? BuiltInUpdateUrl() : UpdateSettings.BaseUrl;
    return base + Latin(path);
}

// The window's part of each step; the order and the decisions are
// form::RunUpdateCheck's.
class TMainForm::TUpdateSteps : public form::TUpdateSteps {
public:
    explicit TUpdateSteps(TMainForm& form) : m_form(form) {}

    std::optional<std::string> FetchVersionFile() override {
        update::TRequest request;
        request.Url = m_form.UpdateUrl(form::kVersionFilePath.data()).toStdString();
        request.Total = m_form.UpdateSettings.VersionLimit;
        request.Stall = m_form.UpdateSettings.VersionLimit;
        return update::GetToMemory(*m_form.idhtp1, request);
    }
    std::optional<std::u16string> KeepVersionFile(const std::string& bytes) override {
        const QString versionFile = Latin(form::kVersionFileName);
        if (!SaveWhole(versionFile, bytes)) return std::nullopt;
        QFile saved(versionFile);
        if (!saved.open(QIODevice::ReadOnly)) return std::nullopt;
        return DecodeVersionFile(saved.readAll()).toStdU16String();
    }
    void ShowVersionFile(const std::vector<std::u16string>& lines) override {
        QStringList text;
        for (const std::u16string& line : lines) text.append(QString::fromStdU16String(line));
        m_form.Memo1->setPlainText(text.join(QLatin1Char('\n')));
    }
    std::u16string RunningVersion() override {
        const QString executable = m_form.UpdateSettings.ExecutablePath.isEmpty()
                                       ? QCoreApplication::applicationFilePath()
                                       : m_form.UpdateSettings.ExecutablePath;
        return GetFileVersionString(executable).toStdU16String();
    }
    std::string ExecutableUrl() override {
        return m_form.UpdateUrl(form::kExecutablePath.data()).toStdString();
    }
    bool AskToUpdate() override { return AskForUpdate(); }
    void ShowWaitHint() override { m_form.ShowWaitHint(); }
    void HideWaitHint() override { m_form.HideWaitHint(); }
    void DownloadAndSwap(const std::optional<form::TSha256>& digest) override {
        m_form.DownloadUpdate(digest);
    }

private:
    TMainForm& m_form;
};

void TMainForm::CheckForUpdate() {
    Memo1->clear();
    if (!idhtp1) idhtp1 = update::MakeHttpClient({FsPath(UpdateSettings.CaFile)});
    TUpdateSteps steps(*this);
    form::RunUpdateCheck(steps);
}

void TMainForm::DownloadUpdate(const std::optional<form::TSha256>& digest) {
    if (!idhtp1) return;
    update::TSwapPlan plan;
    plan.Request.Url = UpdateUrl(form::kExecutablePath.data()).toStdString();
    plan.Request.Stall = UpdateSettings.DownloadStallLimit;
    // Keeps the wait box painted while the thread waits for bytes; input
    // stays queued, as the check blocks the program by design.
    plan.Request.WhileWaiting = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    plan.Sha256 = digest;
    if (!UpdateSettings.TargetPath.isEmpty()) {
        plan.Target = FsPath(UpdateSettings.TargetPath);
        plan.Old = FsPath(UpdateSettings.TargetPath == Latin(form::kExecutableName)
                              ? Latin(form::kOldExecutableName)
                              : UpdateSettings.TargetPath + QStringLiteral(".old"));
        plan.RefuseRunningImage = true;
    } else {
#ifdef _WIN32
        plan.Target = FsPath(Latin(form::kExecutableName));
        plan.Old = FsPath(Latin(form::kOldExecutableName));
        plan.RefuseRunningImage = true;
#else
        // Linux replaces a running program's file without harm: the process
        // keeps the image it was started from, and the next start is new.
        const QString self = QCoreApplication::applicationFilePath();
        plan.Target = FsPath(self);
        plan.Old = FsPath(self + QStringLiteral(".old"));
        plan.RefuseRunningImage = false;
#endif
    }
    update::DownloadAndSwap(*idhtp1, plan);
}

void TMainForm::ShowWaitHint() {
    if (!MyNoWaitWnd) MyNoWaitWnd = new TWaitHint(this);
    QPalette palette = MyNoWaitWnd->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::WindowText, QColor(0, 128, 0));
    MyNoWaitWnd->setPalette(palette);
    QFont font;
    // The face asked for, then faces that have its glyphs where it is missing.
    font.setFamilies({QStringLiteral(u"宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(12);
    MyNoWaitWnd->setFont(font);

    QList<QRect> monitors;
    for (const QScreen* screen : QGuiApplication::screens()) monitors.append(screen->geometry());
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QSize virtualSize = primary ? primary->virtualSize() : QSize();
    MyNoWaitWnd->ActivateHint(WaitHintRect(virtualSize, monitors), QString::fromUtf16(kWaitCaption));
    MyNoWaitWnd->DrawMessage(QPoint(60, 20), QString::fromUtf16(kWaitMessage));
}

void TMainForm::HideWaitHint() {
    if (MyNoWaitWnd) MyNoWaitWnd->ReleaseWindow();
}

}  // namespace app
