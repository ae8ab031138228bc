// The record's file apart from the window: the name it is offered under, the
// line it names, the extension a filter adds and what the operator is told.
#include "link.h"
#include "recordfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using hv52::LineSettings;
using hv52::RecordFile;

namespace {

// The line as the parent program gives it: address, port number, speed.
LineSettings lineOf(const char *commandLine)
{
    hv52::Link link;
    link.setArgs(hv52::GetCommandLine(QString::fromLatin1(commandLine), 5));
    return link.line();
}

} // namespace

class RecordFileTest : public QObject
{
    Q_OBJECT
private slots:
    void fileName_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QByteArray>("commandLine");
        QTest::addColumn<QString>("name");
        QTest::newRow("address given") << "t516" << QByteArray("7") << "调试记录-T516-地址7-20261207-1830.html";
        QTest::newRow("all given") << "t540" << QByteArray("7 3 19200") << "调试记录-T540-地址7-20261207-1830.html";
        QTest::newRow("no address given") << "t528" << QByteArray("") << "调试记录-T528-地址0-20261207-1830.html";
    }
    void fileName()
    {
        QFETCH(QString, module);
        QFETCH(QByteArray, commandLine);
        QFETCH(QString, name);
        const QDateTime now(QDate(2026, 12, 7), QTime(18, 30, 59));
        QCOMPARE(RecordFile::fileName(module, lineOf(commandLine.constData()), now), name);
    }

    void line_data()
    {
        QTest::addColumn<QByteArray>("commandLine");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("address");
        QTest::newRow("all given") << QByteArray("7 3 19200") << "COM3" << 19200 << 7;
        QTest::newRow("port given, no speed") << QByteArray("7 3") << "COM3" << 0 << 7;
        QTest::newRow("no port given: the link's") << QByteArray("7") << "/dev/ttyUSB0" << 0 << 7;
        QTest::newRow("port 0: the link's") << QByteArray("7 0 19200") << "/dev/ttyUSB0" << 19200 << 7;
        QTest::newRow("nothing given") << QByteArray("") << "/dev/ttyUSB0" << 0 << 0;
    }
    void line()
    {
        QFETCH(QByteArray, commandLine);
        QFETCH(QString, label);
        QFETCH(int, speed);
        QFETCH(int, address);
        const hv52::WindowRecord::Line line =
            RecordFile::line(QStringLiteral("t516"), lineOf(commandLine.constData()), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(line.tool, QStringLiteral("cfg_t516"));
        QVERIFY(!line.version.isEmpty());
        QCOMPARE(line.line, label);
        QCOMPARE(line.speed, speed);
        QCOMPARE(line.address, address);
    }

    void extension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("completed");
        QTest::newRow("cancelled") << "" << 1 << "";
        QTest::newRow("no extension, page") << "/tmp/a" << 0 << "/tmp/a.html";
        QTest::newRow("no extension, table") << "/tmp/a" << 1 << "/tmp/a.csv";
        QTest::newRow("no extension, JSON") << "/tmp/a" << 2 << "/tmp/a.json";
        QTest::newRow("its own extension stays") << "/tmp/a.CSV" << 0 << "/tmp/a.CSV";
        QTest::newRow("htm is a page") << "/tmp/a.htm" << 2 << "/tmp/a.htm";
        QTest::newRow("another extension: the filter's added") << "/tmp/a.txt" << 2 << "/tmp/a.txt.json";
    }
    void extension()
    {
        QFETCH(QString, path);
        QFETCH(int, filter);
        QFETCH(QString, completed);
        QCOMPARE(RecordFile::filters().size(), 3);
        QCOMPARE(RecordFile::withFilterExtension(path, RecordFile::filters().at(filter)), completed);
    }

    void save_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("start");
        QTest::newRow("written") << "record.json" << true << "调试记录已保存到 ";
        QTest::newRow("a folder that is not there") << "none/record.csv" << false << "调试记录未保存。\n";
    }
    void save()
    {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        QFETCH(QString, start);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(name);
        hv52::RunRecord record;
        record.tool = QStringLiteral("cfg_t516");
        record.command = QStringLiteral("window");
        QString message;
        QCOMPARE(RecordFile::save(path, record, &message), saved);
        QVERIFY2(message.startsWith(start), qPrintable(message));
        // Either way the message names the file.
        QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
        QCOMPARE(QFile::exists(path), saved);
    }
};

QTEST_GUILESS_MAIN(RecordFileTest)
#include "tst_recordfile.moc"
