// TMainForm's update check. See update_check.h for the run of it; the notes
// here say where it departs from the obvious way to write it.
#include "app/update_check.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>

#include "app/http_client.h"
#include "app/main_form.h"
#include "app/version_text.h"
#include "app/wait_hint.h"
#include "platform/file_version.h"
#include "platform/rename_file.h"

namespace app {

namespace {

std::filesystem::path FsPath(const QString& path) { return std::filesystem::path(path.toStdU16String()); }

QString Latin(const char* text) { return QString::fromLatin1(text); }

// The question: only Yes consents; Cancel, Escape or closing the box do not.
bool AskForUpdate() {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                    QString::fromUtf16(kUpdateQuestion), QMessageBox::NoButton);
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == yes;
}

// "ver.txt" holds exactly what the server sent: created or replaced.
bool SaveWhole(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

// The new executable goes to a temporary file beside "Lumbra.exe" and takes
// that name only once it is complete, so a failed save never leaves a
// truncated "Lumbra.exe" behind.
bool SaveExecutable(const QByteArray& bytes) {
    const QString name = Latin(kExecutableName);
    if (platform::IsRunningImage(FsPath(name))) return false;  // in use: not replaced
    QSaveFile file(name);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                        QFileDevice::ExeOther);
    return file.commit();
}

}  // namespace

QString BuiltInUpdateUrl() { return QStringLiteral(LUMBRA_UPDATE_URL); }

void TMainForm::FormShow() { CheckForUpdate(); }

QString TMainForm::GetFileVersionString(const QString& path) {
    const auto version = platform::ReadFileVersion(FsPath(path));
    return VersionText(version.value_or(platform::TFileVersion{}));
}

QString TMainForm::UpdateUrl(const char* path) const {
    const QString base = UpdateSettings.BaseUrl.isEmpty() ? BuiltInUpdateUrl() : UpdateSettings.BaseUrl;
    return base + Latin(path);
}

void TMainForm::CheckForUpdate() {
    Memo1->clear();
    if (!idhtp1) idhtp1 = new THttpClient(this);
    const auto body = idhtp1->Get(UpdateUrl("/update/ver.txt"),
                                  {UpdateSettings.VersionLimit, UpdateSettings.VersionLimit});
    if (!body) return;
    const QString versionFile = Latin(kVersionFileName);
    if (!SaveWhole(versionFile, *body)) return;

    // Read back what was saved, as the memo would load it.
    QFile saved(versionFile);
    if (!saved.open(QIODevice::ReadOnly)) return;
    const QString text = DecodeVersionFile(saved.readAll());
    saved.close();
    // The memo keeps the text; the version is the file's second line by its
    // own line breaks, not by where the memo happens to wrap.
    Memo1->setPlainText(SplitLines(text).join(QLatin1Char('\n')));
    const QString published = PublishedVersionLine(text);

    const QString executable =
        UpdateSettings.ExecutablePath.isEmpty() ? QCoreApplication::applicationFilePath() : UpdateSettings.ExecutablePath;
    if (!IsNewerVersion(published, GetFileVersionString(executable))) return;
    if (!AskForUpdate()) return;
    ShowWaitHint();
    DownloadUpdate();
    HideWaitHint();
}

void TMainForm::DownloadUpdate() {
    const QString exe = Latin(kExecutableName);
    const QString old = Latin(kOldExecutableName);
    bool updated = false;
    {
        // Keeps the wait box painted while the thread waits for bytes; input
        // stays queued, as the check blocks the program by design.
        const auto paintWaitBox = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
        const auto body = idhtp1 ? idhtp1->Get(UpdateUrl("/update/Lumbra.exe"),
                                               {std::chrono::milliseconds(0), UpdateSettings.DownloadStallLimit},
                                               paintWaitBox)
                                 : std::nullopt;
        if (body) {
            platform::RenameNoReplace(FsPath(exe), FsPath(old));  // fails when there is none, or an old one
            updated = SaveExecutable(*body);
        }
        if (idhtp1) idhtp1->Disconnect();
    }
    // Put the old one back; this fails, harmlessly, while a "Lumbra.exe" exists.
    if (!updated) platform::RenameNoReplace(FsPath(old), FsPath(exe));
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
    for (const QScreen* s : QGuiApplication::screens()) monitors.append(s->geometry());
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QSize virtualSize = primary ? primary->virtualSize() : QSize();
    MyNoWaitWnd->ActivateHint(WaitHintRect(virtualSize, monitors), QString::fromUtf16(kWaitCaption));
    MyNoWaitWnd->DrawMessage(QPoint(60, 20), QString::fromUtf16(kWaitMessage));
}

void TMainForm::HideWaitHint() {
    if (MyNoWaitWnd) MyNoWaitWnd->ReleaseWindow();
}

}  // namespace app
