// The windowed program as a process: it starts, writes its settings, a
// second start while it runs ends at once, silently, with status 0, and
// SIGTERM (logging out, `kill`) closes it like its exit menu.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "window_tests.h"

namespace brannock::test {

class ProcessTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_runtime;
  QTemporaryDir m_settings;

  void Prepare(QProcess& process) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", m_runtime.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProgram(QStringLiteral(BRANNOCK_PROGRAM));
    process.setArguments({"--simulate", m_settings.filePath("no-tuners.json"), "--config-dir", m_settings.path()});
  }

 private slots:
  void secondInstanceEndsSilently() {
    if (!QFile::exists(QStringLiteral(BRANNOCK_PROGRAM))) QSKIP("brannock is not built in this tree");
    QFile simulation(m_settings.filePath("no-tuners.json"));
    QVERIFY(simulation.open(QIODevice::WriteOnly));
    simulation.write(R"({"devices": []})");
    simulation.close();

    QProcess first;
    Prepare(first);
    first.start();
    QVERIFY(first.waitForStarted());
    // The settings file is written at start-up, after the instance lock is taken.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_settings.filePath("OneSeg_Config.ini")), 10000);

    QProcess second;
    Prepare(second);
    second.start();
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());

    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
  }
};

QObject* MakeProcessTest() { return new ProcessTest; }

}  // namespace brannock::test

#include "window_process_test.moc"
