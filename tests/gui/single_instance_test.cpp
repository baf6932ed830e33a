// SPDX-License-Identifier: GPL-3.0-or-later
// One copy at a time: the token, and a second start of the real program.
#include <QProcess>
#include <QTest>
#include <QUuid>

#include "app/qt/single_instance.h"

class TSingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void SecondClaimInOneProcessFails() {
        const std::string name = "lumbra-test-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();
        QVERIFY(!app::IsSingleInstanceHeld(name));
        QVERIFY(app::ClaimSingleInstance(name));
        QVERIFY(app::IsSingleInstanceHeld(name));
        QVERIFY(!app::ClaimSingleInstance(name));
        QVERIFY(app::IsSingleInstanceHeld(name));
    }

    void TokenDiesWithItsProcess() {
        if (app::IsSingleInstanceHeld(app::kInstanceName))
            QSKIP("a copy of the program runs on this machine");
        QProcess first;
        first.setProgram(QStringLiteral(LUMBRA_APP_PATH));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LUMBRA_DRIVES"), QString());  // no drives to probe
        first.setProcessEnvironment(env);
        first.start();
        QVERIFY(first.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(app::IsSingleInstanceHeld(app::kInstanceName), 10000);

        // A second copy ends on its own, cleanly, and leaves the first
        // running. It ends before any window: a copy that built one would
        // stay in its event loop, and the wait (a bound against a hang, not
        // a measure) would run out.
        QProcess second;
        second.setProgram(QStringLiteral(LUMBRA_APP_PATH));
        second.setProcessEnvironment(env);
        second.start();
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(app::IsSingleInstanceHeld(app::kInstanceName));

        // Killed (no clean exit), the first copy leaves nothing that blocks a new start.
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!app::IsSingleInstanceHeld(app::kInstanceName), 5000);
        QProcess third;
        third.setProgram(QStringLiteral(LUMBRA_APP_PATH));
        third.setProcessEnvironment(env);
        third.start();
        QVERIFY(third.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(app::IsSingleInstanceHeld(app::kInstanceName), 10000);
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        if (!third.waitForFinished(5000)) third.kill();
    }
};

QTEST_GUILESS_MAIN(TSingleInstanceTest)
#include "single_instance_test.moc"
