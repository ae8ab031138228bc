// The record's file apart from the window: the name it is offered under, the
// line it names, the extension a filter adds and what the operator is told.
#include "recordfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using hv52::LineSettings;
using hv52::RecordFile;

namespace {

// The parent program's numbers: `given` of address, port number and speed.
LineSettings lineOf(int given, int address = 7, int port = 3, int speed = 19200)
{
    LineSettings line;
    line.given = given;
    line.address = address;
    line.portNumber = port;
    line.speed = speed;
    return line;
}

} // namespace

class RecordFileTest : public QObject
{
    Q_OBJECT
private slots:
    void fileName_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<int>("given");
        QTest::addColumn<QString>("name");
        QTest::newRow("address given") << "t516" << 1 << "调试记录-T516-地址7-20261207-1830.html";
        QTest::newRow("all given") << "t540" << 3 << "调试记录-T540-地址7-20261207-1830.html";
        QTest::newRow("no address given") << "t528" << 0 << "调试记录-T528-地址0-20261207-1830.html";
    }
    void fileName()
    {
        QFETCH(QString, module);
        QFETCH(int, given);
        QFETCH(QString, name);
        const QDateTime now(QDate(2026, 12, 7), QTime(18, 30, 59));
        QCOMPARE(RecordFile::fileName(module, lineOf(given), now), name);
    }

    void line_data()
    {
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("address");
        QTest::newRow("all given") << 3 << 3 << "COM3" << 19200 << 7;
        QTest::newRow("port given, no speed") << 2 << 3 << "COM3" << 0 << 7;
        QTest::newRow("no port given: the link's") << 1 << 3 << "/dev/ttyUSB0" << 0 << 7;
        QTest::newRow("port 0: the link's") << 3 << 0 << "/dev/ttyUSB0" << 19200 << 7;
        QTest::newRow("nothing given") << 0 << 3 << "/dev/ttyUSB0" << 0 << 0;
    }
    void line()
    {
        QFETCH(int, given);
        QFETCH(int, port);
        QFETCH(QString, label);
        QFETCH(int, speed);
        QFETCH(int, address);
        const hv52::WindowRecord::Line line =
            RecordFile::line(QStringLiteral("t516"), lineOf(given, 7, port), QStringLiteral("/dev/ttyUSB0"));
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
