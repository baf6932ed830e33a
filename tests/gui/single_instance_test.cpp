// SPDX-License-Identifier: GPL-3.0-or-later
// One copy at a time: the token, and a second start of the real program.
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QUuid>

#include "app/single_instance.h"

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

        // A second copy ends at once, with no window, and leaves the first running.
        QProcess second;
        second.setProgram(QStringLiteral(LUMBRA_APP_PATH));
        second.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        second.start();
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(clock.elapsed() < 3000, "the second copy should not build a window");
        QCOMPARE(first.state(), QProcess::Running);

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
