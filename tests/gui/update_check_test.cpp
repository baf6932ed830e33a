// SPDX-License-Identifier: GPL-3.0-or-later
// The update check against real servers on 127.0.0.1 that the test starts
// (update_server.py), one over https with a certificate made here and
// trusted only through the CA file the check is given, one over plain http,
// in a working directory of its own: what is asked, what is written and
// renamed, what a failure leaves behind. The
// question and the wait box are the real widgets, answered and measured
// while the check runs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <memory>

#include "app/main_form.h"
#include "app/update_check.h"
#include "app/version_text.h"
#include "app/wait_hint.h"

using app::TMainForm;

namespace {

using namespace std::chrono_literals;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A port on 127.0.0.1 that was free a moment ago and has nobody listening.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// What the question looked like, and the wait box during the download.
struct TSeen {
    bool Asked = false;
    QString Title, Text, DefaultButton;
    QStringList Buttons;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    bool WindowOnScreenAtQuestion = false;
    bool BoxShown = false;
    QRect BoxGeometry;
    QString BoxCaption, BoxMessage;
};

// Answers the question with the button of `answer` (empty: close it with
// Escape) and watches for the wait box, while the check blocks the test.
class TAnswerer {
public:
    TAnswerer(TMainForm& form, QString answer) : m_form(form), m_answer(std::move(answer)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }
    const TSeen& Seen() const { return m_seen; }

private:
    void Poll() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && !m_seen.Asked) {
            m_seen.Asked = true;
            m_seen.Title = box->windowTitle();
            m_seen.Text = box->text();
            m_seen.Icon = box->icon();
            for (QAbstractButton* b : box->buttons()) m_seen.Buttons << b->text();
            m_seen.Buttons.sort();
            if (box->defaultButton()) m_seen.DefaultButton = box->defaultButton()->text();
            m_seen.WindowOnScreenAtQuestion = m_form.windowHandle() && m_form.windowHandle()->isVisible();
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == m_answer) chosen = b;
            }
            if (chosen) {
                chosen->click();
            } else {
                QTest::keyClick(box, Qt::Key_Escape);
            }
        }
        if (m_form.MyNoWaitWnd && m_form.MyNoWaitWnd->isVisible()) {
            if (!m_seen.BoxShown) {
                m_seen.BoxShown = true;
                m_seen.BoxGeometry = m_form.MyNoWaitWnd->geometry();
                m_seen.BoxCaption = m_form.MyNoWaitWnd->Caption();
            }
            // The box is shown while it waits to be mapped, and the message
            // is drawn into it only after that: take it once it is there.
            if (m_seen.BoxMessage.isEmpty()) m_seen.BoxMessage = m_form.MyNoWaitWnd->Message();
        }
    }

    TMainForm& m_form;
    QString m_answer;
    QTimer m_timer;
    TSeen m_seen;
};

}  // namespace

class TUpdateCheckTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_serverRoot;
    QTemporaryDir m_certDir;
    QProcess m_server;       // https, same files
    QProcess m_plainServer;  // http
    QString m_baseUrl;       // https
    QString m_plainBaseUrl;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_startDir;

    QString Served(const QString& name) const {
        return m_serverRoot.filePath(QStringLiteral("update/") + name);
    }
    QString Here(const QString& name) const { return m_work->filePath(name); }

    // A form whose check talks to our server with short limits, as the
    // program's own executable (file version 1.0.0.0).
    std::unique_ptr<TMainForm> Form(const QString& base = {}, bool trusted = true) {
        auto form = std::make_unique<TMainForm>();
        form->UpdateSettings.BaseUrl = base.isEmpty() ? m_baseUrl : base;
        if (trusted) form->UpdateSettings.CaFile = m_certDir.filePath(QStringLiteral("cert.pem"));
        form->UpdateSettings.TargetPath = QStringLiteral("Lumbra.exe");
        form->UpdateSettings.VersionLimit = 1s;
        form->UpdateSettings.DownloadStallLimit = 1s;
        form->UpdateSettings.ExecutablePath = QStringLiteral(LUMBRA_APP_PATH);
        return form;
    }

    TSeen Check(const QString& answer = {}, const QString& base = {}, bool trusted = true) {
        auto form = Form(base, trusted);
        TAnswerer answerer(*form, answer);
        form->CheckForUpdate();
        QTest::qWait(20);  // last poll, after the box is gone
        return answerer.Seen();
    }

    QStringList Files() const {
        return QDir(m_work->path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    QList<QJsonObject> Requests() const {
        QList<QJsonObject> out;
        for (const QByteArray& line :
             ReadAll(m_serverRoot.filePath(QStringLiteral("requests.log"))).split('\n')) {
            if (!line.isEmpty()) out << QJsonDocument::fromJson(line).object();
        }
        return out;
    }

private slots:
    static int StartServer(QProcess& server, QStringList arguments) {
        server.setProgram(QStringLiteral("python3"));
        server.setArguments(QStringList{QStringLiteral(LUMBRA_UPDATE_SERVER)} << arguments);
        server.start();
        if (!server.waitForReadyRead(10000)) return 0;
        return server.readLine().trimmed().toInt();
    }

    void initTestCase() {
        QVERIFY(m_serverRoot.isValid());
        QVERIFY(m_certDir.isValid());
        // A self-signed certificate for 127.0.0.1, made for this run only.
        const QString cert = m_certDir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_certDir.filePath(QStringLiteral("key.pem"));
        QCOMPARE(
            QProcess::execute(QStringLiteral("openssl"),
                              {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                               "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert}),
            0);
        const int port = StartServer(m_server, {m_serverRoot.path(), QStringLiteral("60"), cert, key});
        QVERIFY(port > 0);
        m_baseUrl = QStringLiteral("https://127.0.0.1:%1").arg(port);
        const int plainPort = StartServer(m_plainServer, {m_serverRoot.path(), QStringLiteral("60")});
        QVERIFY(plainPort > 0);
        m_plainBaseUrl = QStringLiteral("http://127.0.0.1:%1").arg(plainPort);
        m_startDir = QDir::currentPath();
    }

    void cleanupTestCase() {
        QDir::setCurrent(m_startDir);
        for (QProcess* server : {&m_server, &m_plainServer}) {
            server->kill();
            server->waitForFinished(5000);
        }
    }

    // Every check runs in a fresh working directory, never the executable's.
    void init() {
        QDir(m_serverRoot.filePath(QStringLiteral("update"))).removeRecursively();
        QFile::remove(m_serverRoot.filePath(QStringLiteral("requests.log")));
        m_work = std::make_unique<QTemporaryDir>(QCoreApplication::applicationDirPath() +
                                                 QStringLiteral("/upd-XXXXXX"));
        QVERIFY(m_work->isValid());
        QVERIFY(QDir::setCurrent(m_work->path()));
    }

    void cleanup() {
        QDir::setCurrent(m_startDir);
        m_work.reset();
    }

    void VersionOrderIsNumeric_data() {
        QTest::addColumn<QString>("published");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("newer");
        QTest::newRow("last part") << "1.0.0.1"
                                   << "1.0.0.0" << true;
        QTest::newRow("short form") << "1.1"
                                    << "1.0.0.0" << true;
        QTest::newRow("10 after 9") << "1.0.0.10"
                                    << "1.0.0.9" << true;
        QTest::newRow("10 after 9, first part") << "10.0.0.0"
                                                << "9.0.0.0" << true;
        QTest::newRow("equal") << "1.0.0.0"
                               << "1.0.0.0" << false;
        QTest::newRow("trailing blank") << "1.0.0.0 "
                                        << "1.0.0.0" << false;
        QTest::newRow("blanks around newer") << "\t1.0.0.2  "
                                             << "1.0.0.0" << true;
        QTest::newRow("older") << "0.9.9.9"
                               << "1.0.0.0" << false;
        QTest::newRow("empty") << ""
                               << "0.0.0.0" << false;
        QTest::newRow("letters") << "v2"
                                 << "1.0.0.0" << false;
        QTest::newRow("empty part") << "2..0"
                                    << "1.0.0.0" << false;
        QTest::newRow("five parts") << "2.0.0.0.0"
                                    << "1.0.0.0" << false;
        QTest::newRow("sign") << "+2"
                              << "1.0.0.0" << false;
        QTest::newRow("beyond 32 bits") << "99999999999"
                                        << "1.0.0.0" << false;
        QTest::newRow("beyond 16 bits") << "1.0.0.70000"
                                        << "1.0.0.0" << true;
    }
    void VersionOrderIsNumeric() {
        QFETCH(QString, published);
        QFETCH(QString, running);
        QFETCH(bool, newer);
        QCOMPARE(app::IsNewerVersion(published, running), newer);
    }

    void VersionFileDecoding_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        const QStringList two = {QStringLiteral(u"版本"), QStringLiteral("1.0.0.1")};
        QTest::newRow("utf-8 bom, crlf")
            << QByteArray("\xEF\xBB\xBF\xE7\x89\x88\xE6\x9C\xAC\r\n1.0.0.1\r\n") << two;
        QTest::newRow("utf-16le bom, cr") << QByteArray(
                                                 "\xFF\xFE\x48\x72\x2C\x67\r\0"
                                                 "1\0.\0"
                                                 "0\0.\0"
                                                 "0\0.\0"
                                                 "1\0",
                                                 22)
                                          << two;
        QTest::newRow("utf-16be bom, lf") << QByteArray(
                                                 "\xFE\xFF\x72\x48\x67\x2C\0\n\0"
                                                 "1\0.\0"
                                                 "0\0.\0"
                                                 "0\0.\0"
                                                 "1",
                                                 22)
                                          << two;
        QTest::newRow("no bom, lf, no last break") << QByteArray("v\n1.0.0.1") << QStringList{"v", "1.0.0.1"};
        QTest::newRow("empty line kept") << QByteArray("\r\n\r\n3") << QStringList{"", "", "3"};
        QTest::newRow("lf cr is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("empty") << QByteArray() << QStringList{};
    }
    void VersionFileDecoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QCOMPARE(app::SplitLines(app::DecodeVersionFile(bytes)), lines);
    }

    void WaitBoxPlace_data() {
        QTest::addColumn<QSize>("virtualSize");
        QTest::addColumn<QList<QRect>>("monitors");
        QTest::addColumn<QRect>("box");
        QTest::newRow("one monitor") << QSize(1920, 1080) << QList<QRect>{{0, 0, 1920, 1080}}
                                     << QRect(860, 440, 300, 64);
        QTest::newRow("odd size truncates")
            << QSize(801, 601) << QList<QRect>{{0, 0, 801, 601}} << QRect(300, 200, 300, 64);
        QTest::newRow("two side by side: kept on the left one, where its corner is")
            << QSize(3840, 1080) << QList<QRect>{{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}
            << QRect(1620, 440, 300, 64);
        QTest::newRow("moved into a small monitor")
            << QSize(2048, 768) << QList<QRect>{{0, 0, 1024, 768}, {1024, 0, 1024, 200}}
            << QRect(724, 284, 300, 64);
        QTest::newRow("corner on a short monitor: moved up into it")
            << QSize(2400, 600) << QList<QRect>{{0, 0, 1000, 600}, {1000, 0, 1400, 250}}
            << QRect(1100, 186, 300, 64);
        QTest::newRow("corner in a gap: the nearest monitor")
            << QSize(2000, 1000) << QList<QRect>{{0, 0, 800, 1000}, {1200, 0, 800, 1000}}
            << QRect(500, 400, 300, 64);
        QTest::newRow("tiny screen: top-left corner kept on it")
            << QSize(100, 50) << QList<QRect>{{0, 0, 100, 50}} << QRect(0, 0, 300, 64);
    }
    void WaitBoxPlace() {
        QFETCH(QSize, virtualSize);
        QFETCH(QList<QRect>, monitors);
        QFETCH(QRect, box);
        QCOMPARE(app::WaitHintRect(virtualSize, monitors), box);
    }

    void FileVersionOfExecutables() {
        QCOMPARE(TMainForm::GetFileVersionString(QStringLiteral(LUMBRA_APP_PATH)), QStringLiteral("1.0.0.0"));
        // The test itself is built without the version record.
        QCOMPARE(TMainForm::GetFileVersionString(QCoreApplication::applicationFilePath()),
                 QStringLiteral("0.0.0.0"));
        Write(Here("plain.txt"), "not an executable");
        QCOMPARE(TMainForm::GetFileVersionString(QStringLiteral("plain.txt")), QStringLiteral("0.0.0.0"));
        QCOMPARE(TMainForm::GetFileVersionString(QStringLiteral("missing")), QStringLiteral("0.0.0.0"));
    }

    // The whole update, started the way the program starts it: by showing
    // the window.
    void NewerVersionAndYesSwapsTheExecutables() {
        const QByteArray versionFile("Lumbra\r\n1.0.0.1\r\n");
        const QByteArray replacement = QByteArray(200'000, 'N') + "end";
        Write(Served("ver.txt"), versionFile);
        Write(Served("Lumbra.exe"), replacement);
        Write(Served("Lumbra.exe.delay"), "300");  // time to see the wait box
        Write(Here("Lumbra.exe"), "old program");

        auto form = Form();
        TSeen seen;
        {
            TAnswerer answerer(*form, QStringLiteral("&Yes"));
            form->show();
            QTest::qWait(20);
#if !LUMBRA_SELF_UPDATE_IN_PROGRAM
            // A build without the self-update never checks: nothing asked,
            // nothing fetched. The updater itself is driven directly here.
            QVERIFY(!answerer.Seen().Asked);
            QVERIFY(Requests().isEmpty());
            QVERIFY(Files() == QStringList{"Lumbra.exe"});
            form->CheckForUpdate();
            QTest::qWait(20);
#endif
            seen = answerer.Seen();
        }
        QVERIFY(seen.Asked);
#if LUMBRA_SELF_UPDATE_IN_PROGRAM
        QVERIFY(!seen.WindowOnScreenAtQuestion);
#endif
        QCOMPARE(seen.Title, QStringLiteral("Information"));
        QCOMPARE(seen.Icon, QMessageBox::Information);
        QCOMPARE(seen.Text, QString::fromUtf16(app::kUpdateQuestion));
        QVERIFY(seen.Text.endsWith(QChar(0xFF1F)));
        QCOMPARE(seen.Buttons, (QStringList{"&Yes", "Cancel"}));  // sorted
        QCOMPARE(seen.DefaultButton, QStringLiteral("&Yes"));

        QVERIFY(seen.BoxShown);
        QCOMPARE(seen.BoxCaption, QStringLiteral("Now Wait..."));
        QCOMPARE(seen.BoxMessage, QStringLiteral(u"Updating version，Please wait a moment..."));
        const QScreen* screen = QGuiApplication::primaryScreen();
        QCOMPARE(seen.BoxGeometry, app::WaitHintRect(screen->virtualSize(), {screen->geometry()}));
        QVERIFY(!form->MyNoWaitWnd->isVisible());

        QCOMPARE(Files(), (QStringList{"Lumbra.exe", "Lumbra.old", "ver.txt"}));
        QCOMPARE(ReadAll(Here("Lumbra.exe")), replacement);
        QCOMPARE(ReadAll(Here("Lumbra.old")), QByteArray("old program"));
        QCOMPARE(ReadAll(Here("ver.txt")), versionFile);
        QVERIFY(QFileInfo(Here("Lumbra.exe")).isExecutable());
        QCOMPARE(form->Memo1->toPlainText(), QStringLiteral("Lumbra\n1.0.0.1"));

        // Both requests carry exactly Host and the two headers of the client.
        const auto requests = Requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0][QStringLiteral("path")].toString(), QStringLiteral("/update/ver.txt"));
        QCOMPARE(requests[1][QStringLiteral("path")].toString(), QStringLiteral("/update/Lumbra.exe"));
        for (const QJsonObject& r : requests) {
            QStringList headers;
            for (const QJsonValue& h : r[QStringLiteral("headers")].toArray()) {
                headers << h[0].toString() + QStringLiteral(": ") + h[1].toString();
            }
            QCOMPARE(
                headers,
                (QStringList{QStringLiteral("Host: ") + m_baseUrl.mid(8),
                             "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
                             "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"}));
        }
    }

    void WaitBoxLookAndReuse() {
        auto form = Form();
        form->ShowWaitHint();
        app::TWaitHint* box = form->MyNoWaitWnd;
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->parentWidget(), form.get());
        QCOMPARE(box->font().families().value(0), QStringLiteral(u"宋体"));
        QCOMPARE(box->font().pointSize(), 12);
        QCOMPARE(box->MessageAt(), QPoint(60, 20));
        // The drawing: grey ground, green text in the message's place.
        const QImage picture = box->grab().toImage();
        QCOMPARE(picture.pixelColor(box->width() - 5, box->height() - 5), QColor(192, 192, 192));
        bool green = false;
        for (int x = 60; x < 200 && !green; ++x) {
            for (int y = 20; y < 40 && !green; ++y) green = picture.pixelColor(x, y) == QColor(0, 128, 0);
        }
        QVERIFY(green);

        form->HideWaitHint();
        QVERIFY(!box->isVisible());
        form->ShowWaitHint();
        QCOMPARE(form->MyNoWaitWnd, box);
        QVERIFY(box->isVisible());
        form->HideWaitHint();
    }

    void NoQuestionButVersionFileWritten_data() {
        QTest::addColumn<QByteArray>("versionFile");
        QTest::newRow("equal") << QByteArray("x\r\n1.0.0.0\r\n");
        QTest::newRow("equal with a trailing blank") << QByteArray("x\r\n1.0.0.0 \r\n");
        QTest::newRow("older") << QByteArray("x\n0.9.9.9\n");
        QTest::newRow("empty second line") << QByteArray("x\r\n\r\n1.0.0.5\r\n");
        QTest::newRow("one line") << QByteArray("1.0.0.5\r\n");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("not a version") << QByteArray("x\nlatest\n");
    }
    void NoQuestionButVersionFileWritten() {
        QFETCH(QByteArray, versionFile);
        Write(Served("ver.txt"), versionFile);
        Write(Served("Lumbra.exe"), "new");
        Write(Here("Lumbra.exe"), "old");
        QVERIFY(!Check(QStringLiteral("&Yes")).Asked);
        QCOMPARE(Files(), (QStringList{"Lumbra.exe", "ver.txt"}));
        QCOMPARE(ReadAll(Here("ver.txt")), versionFile);
        QCOMPARE(ReadAll(Here("Lumbra.exe")), QByteArray("old"));
        QCOMPARE(Requests().size(), 1);
    }

    // The version is the second line by the file's own breaks, whatever the
    // encoding, however long the first line.
    void EncodingsAndBreaksAsk_data() {
        QTest::addColumn<QByteArray>("versionFile");
        QTest::newRow("utf-8 bom, crlf") << QByteArray("\xEF\xBB\xBFLumbra\r\n1.0.0.1\r\n");
        QTest::newRow("utf-16le bom, cr") << QByteArray(
            "\xFF\xFEL\0\r\0"
            "1\0.\0"
            "1\0",
            12);
        QTest::newRow("utf-16be bom, lf") << QByteArray(
            "\xFE\xFF\0L\0\n\0"
            "2",
            8);
        QTest::newRow("no bom, cr") << QByteArray("L\r1.0.0.1");
        QTest::newRow("first line wider than the memo") << QByteArray(QByteArray(400, 'w') + "\n1.0.0.1\n");
    }
    void EncodingsAndBreaksAsk() {
        QFETCH(QByteArray, versionFile);
        Write(Served("ver.txt"), versionFile);
        QVERIFY(Check(QStringLiteral("Cancel")).Asked);
        QCOMPARE(ReadAll(Here("ver.txt")), versionFile);
        QCOMPARE(Files(), QStringList{"ver.txt"});  // Cancel: nothing downloaded
        QCOMPARE(Requests().size(), 1);
    }

    void ClosingTheQuestionIsNotConsent() {
        Write(Served("ver.txt"), "x\n2.0\n");
        Write(Served("Lumbra.exe"), "new");
        QVERIFY(Check(QString()).Asked);  // Escape
        QCOMPARE(Files(), QStringList{"ver.txt"});
    }

    void VersionFetchFailuresLeaveTheOldFile_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("404") << 0;
        QTest::newRow("connection refused") << 1;
        QTest::newRow("server never answers") << 2;
    }
    void VersionFetchFailuresLeaveTheOldFile() {
        QFETCH(int, kind);
        QString base = m_baseUrl;
        if (kind == 1) {
            const int port = ClosedPort();
            QVERIFY(port > 0);
            base = QStringLiteral("https://127.0.0.1:%1").arg(port);
        }
        if (kind == 2) {
            Write(Served("ver.txt"), "x\n9.9\n");
            Write(Served("ver.txt.hang"), "");
        }
        Write(Here("ver.txt"), "earlier");
        QElapsedTimer took;
        took.start();
        QVERIFY(!Check(QStringLiteral("&Yes"), base).Asked);
        QVERIFY2(took.elapsed() < 2500, qPrintable(QString::number(took.elapsed())));  // limit: 1 s
        QCOMPARE(Files(), QStringList{"ver.txt"});
        QCOMPARE(ReadAll(Here("ver.txt")), QByteArray("earlier"));
    }

    // Download failures: the buffer never reaches the disk, "Lumbra.exe"
    // stays whole, and an old one waiting alone is put back.
    void DownloadFailures_data() {
        QTest::addColumn<QString>("sidecar");  // "" = 404
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("404") << "" << QStringList{"Lumbra.exe"} << QStringList{"Lumbra.exe"};
        QTest::newRow("cut short") << "cut" << QStringList{"Lumbra.exe"} << QStringList{"Lumbra.exe"};
        QTest::newRow("stalls") << "hang" << QStringList{"Lumbra.exe"} << QStringList{"Lumbra.exe"};
        QTest::newRow("cut short, both present")
            << "cut" << QStringList{"Lumbra.exe", "Lumbra.old"} << QStringList{"Lumbra.exe", "Lumbra.old"};
        QTest::newRow("cut short, only an old one: restored")
            << "cut" << QStringList{"Lumbra.old"} << QStringList{"Lumbra.exe"};
    }
    void DownloadFailures() {
        QFETCH(QString, sidecar);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        Write(Served("ver.txt"), "x\n1.0.0.1\n");
        if (!sidecar.isEmpty()) {
            Write(Served("Lumbra.exe"), QByteArray(5000, 'N'));
            Write(Served("Lumbra.exe." + sidecar), "");
        }
        for (const QString& name : before) Write(Here(name), name.toLatin1());
        QElapsedTimer took;
        took.start();
        QVERIFY(Check(QStringLiteral("&Yes")).Asked);
        QVERIFY2(took.elapsed() < 2500, qPrintable(QString::number(took.elapsed())));  // stall limit: 1 s
        QCOMPARE(Files(), QStringList{after} << "ver.txt");
        // Contents moved with their names or stayed: nothing was overwritten.
        for (const QString& name : after) {
            const QString origin = before.contains(name) ? name : before.value(0);
            QCOMPARE(ReadAll(Here(name)), origin.toLatin1());
        }
    }

    void OldOneAlreadyThereIsReplacedWithoutCopy() {
        Write(Served("ver.txt"), "x\n1.0.0.1\n");
        Write(Served("Lumbra.exe"), "new");
        Write(Here("Lumbra.exe"), "current");
        Write(Here("Lumbra.old"), "older");
        QVERIFY(Check(QStringLiteral("&Yes")).Asked);
        QCOMPARE(Files(), (QStringList{"Lumbra.exe", "Lumbra.old", "ver.txt"}));
        QCOMPARE(ReadAll(Here("Lumbra.exe")), QByteArray("new"));
        QCOMPARE(ReadAll(Here("Lumbra.old")), QByteArray("older"));
    }

    void RunningExecutableIsNotReplaced() {
        Write(Served("ver.txt"), "x\n1.0.0.1\n");
        Write(Served("Lumbra.exe"), "new");
        Write(Here("Lumbra.old"), "older");
        // "Lumbra.exe" here is this very process's image (a hard link to it).
        const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        if (::link(self.constData(), QFile::encodeName(Here("Lumbra.exe")).constData()) != 0) {
            QSKIP("no hard link to the test binary possible here");
        }
        const QFileInfo before(Here("Lumbra.exe"));
        QVERIFY(Check(QStringLiteral("&Yes")).Asked);
        QCOMPARE(Files(), (QStringList{"Lumbra.exe", "Lumbra.old", "ver.txt"}));
        QCOMPARE(ReadAll(Here("Lumbra.old")), QByteArray("older"));
        QCOMPARE(QFileInfo(Here("Lumbra.exe")).size(), before.size());
        QCOMPARE(ReadAll(Here("Lumbra.exe")).left(4), QByteArray("\x7F"
                                                                 "ELF"));
    }

    void NoExecutableHereGetsTheNewOne() {
        Write(Served("ver.txt"), "x\n1.0.0.1\n");
        Write(Served("Lumbra.exe"), "new");
        QVERIFY(Check(QStringLiteral("&Yes")).Asked);
        QCOMPARE(Files(), (QStringList{"Lumbra.exe", "ver.txt"}));
        QCOMPARE(ReadAll(Here("Lumbra.exe")), QByteArray("new"));
        QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/ver.txt")));
    }

    // Only an executable fetched over https from a trusted server, and with
    // the published digest when there is one, is swapped in. The version file
    // itself may come over plain http and is kept byte for byte.
    void OnlyATrustedAndMatchingDownloadIsSwappedIn_data() {
        const QByteArray served("new program");
        // sha256("new program")
        const QByteArray digest("bed48b44066883c10714d14715a668ac482884f8aaf10d84bce58c6b88ffa8a9");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QByteArray>("thirdLine");
        QTest::addColumn<bool>("swapped");
        QTest::newRow("https, no digest") << false << true << QByteArray() << true;
        QTest::newRow("https, right digest") << false << true << "sha256=" + digest << true;
        QTest::newRow("https, right digest in capitals, blanks")
            << false << true << " sha256=" + digest.toUpper() + " " << true;
        QTest::newRow("https, wrong digest") << false << true << "sha256=" + QByteArray(64, 'a') << false;
        QTest::newRow("https, digest cut short") << false << true << "sha256=" + digest.left(63) << false;
        QTest::newRow("https, digest not hex") << false << true << "sha256=" + digest.left(63) + "g" << false;
        QTest::newRow("plain http, right digest") << true << true << "sha256=" + digest << false;
        QTest::newRow("plain http, no digest") << true << true << QByteArray() << false;
        QTest::newRow("https, certificate not trusted") << false << false << QByteArray() << false;
    }
    void OnlyATrustedAndMatchingDownloadIsSwappedIn() {
        QFETCH(bool, plain);
        QFETCH(bool, trusted);
        QFETCH(QByteArray, thirdLine);
        QFETCH(bool, swapped);
        QByteArray versionFile = "Lumbra\r\n1.0.0.1\r\n";
        if (!thirdLine.isEmpty()) versionFile += thirdLine + "\r\n";
        Write(Served("ver.txt"), versionFile);
        Write(Served("Lumbra.exe"), "new program");
        Write(Here("Lumbra.exe"), "old program");
        const TSeen seen = Check(QStringLiteral("&Yes"), plain ? m_plainBaseUrl : m_baseUrl, trusted);
        // Asked only when a download could follow.
        QCOMPARE(seen.Asked, trusted && !plain);
        if (swapped) {
            QCOMPARE(Files(), (QStringList{"Lumbra.exe", "Lumbra.old", "ver.txt"}));
            QCOMPARE(ReadAll(Here("Lumbra.exe")), QByteArray("new program"));
            QCOMPARE(ReadAll(Here("Lumbra.old")), QByteArray("old program"));
            return;
        }
        // Untouched, and no part of the download left behind.
        QCOMPARE(ReadAll(Here("Lumbra.exe")), QByteArray("old program"));
        if (trusted) {
            // The check itself went through, and kept what was served.
            QCOMPARE(Files(), (QStringList{"Lumbra.exe", "ver.txt"}));
            QCOMPARE(ReadAll(Here("ver.txt")), versionFile);
        } else {
            QCOMPARE(Files(), QStringList{"Lumbra.exe"});
            QVERIFY(Requests().isEmpty());  // the handshake already failed
        }
        if (plain) {
            // Never asked for over http.
            for (const QJsonObject& r : Requests()) {
                QVERIFY(r[QStringLiteral("path")].toString() != QStringLiteral("/update/Lumbra.exe"));
            }
        }
    }

    void DefaultEndpointNeverResolvesAndCostsNothing() {
        QVERIFY(app::BuiltInUpdateUrl().startsWith(QStringLiteral("https://")));
        QVERIFY(app::BuiltInUpdateUrl().contains(QStringLiteral(".invalid")));
        QVERIFY(!app::BuiltInUpdateUrl().endsWith(QLatin1Char('/')));
        auto form = std::make_unique<TMainForm>();
        QElapsedTimer took;
        took.start();
        form->CheckForUpdate();
        QVERIFY2(took.elapsed() < 100, qPrintable(QString::number(took.elapsed())));
        QVERIFY(Files().isEmpty());
        QVERIFY(form->Memo1->toPlainText().isEmpty());
    }
};

QTEST_MAIN(TUpdateCheckTest)
#include "update_check_test.moc"
