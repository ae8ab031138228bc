// The commissioning record writers: the HTML the acceptance engineer signs,
// the CSV and the JSON, each compared byte for byte with its golden file, and
// writeRecord's refusals and failures.
//
// The golden files are rewritten from the writers' present output with
//   HV52_UPDATE_GOLDEN=1 ./tst_record golden
// (read the diff before committing them).
//
// `tst_record --write-sample FILE.html` writes the HTML record of the same
// four meters and FILE.html.headings (one meter heading a line) for
// record_print_test.sh, which prints it with Chromium.
#include "record.h"
#include "recordfixtures.h"
#include "t516module.h"
#include "t528module.h"
#include "t540module.h"

#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

using namespace hv52;
using namespace recordfixtures;
using Written = WrittenValue::Outcome;
using Result = MeterRecord::Result;

namespace {

// Four meters of one line: one commissioned and verified, one dead, one of
// another kind than asked, one with a refused write and a failed read.
RunRecord fourMeters()
{
    RunRecord r;
    r.site = QStringLiteral("1# 配电房 <低压柜 A&B>");
    r.operatorName = QStringLiteral("张工");
    r.line = QStringLiteral("/dev/ttyUSB0");
    r.speed = 9600;
    r.started = at(18, 30, 5);
    r.finished = at(18, 31, 42);
    r.tool = QStringLiteral("hv52ctl");
    r.version = QStringLiteral("1.0.0");
    r.command = QStringLiteral("commission");

    const ModuleDef &t516 = t516Module();
    MeterRecord done;
    done.address = 3;
    done.def = &t516;
    done.result = Result::Done;
    done.started = at(18, 30, 5, 120);
    done.elapsedMs = 12345;
    done.hasBefore = true;
    done.beforeTime = at(18, 30, 6);
    done.before = pollOf(t516);
    done.hasAfter = true;
    done.afterTime = at(18, 30, 16);
    done.after = pollOf(t516);
    setValue(done.after, QStringLiteral("relay1.command"), good(*t516.point(QStringLiteral("relay1.command")), 0));
    setValue(done.after, QStringLiteral("analog1.source"), good(*t516.point(QStringLiteral("analog1.source")), 5));
    done.writes << written(t516, QStringLiteral("relay1.command"), 1, 0, 0, Written::Verified)
                << written(t516, QStringLiteral("analog1.source"), 3, 5, 5, Written::Verified);

    MeterRecord dead;
    dead.address = 7;
    dead.def = &t516;
    dead.result = Result::NoAnswer;
    dead.started = at(18, 30, 18);
    dead.elapsedMs = 3050;
    dead.failures << QStringLiteral("地址 7 无应答：超时无应答（3 次）");

    const ModuleDef &t540 = t540Module();
    MeterRecord other;
    other.address = 12;
    other.def = &t540;
    other.result = Result::Incomplete;
    other.detail = QStringLiteral("可能不是 T540");
    other.started = at(18, 30, 21);
    other.elapsedMs = 1875;
    other.hasBefore = true;
    other.beforeTime = at(18, 30, 21);
    other.before = pollOf(t540, 7, QStringLiteral("召测在前一项停止，未读取"));
    setValue(other.before, QStringLiteral("input3.count"),
             unreadValue(*t540.point(QStringLiteral("input3.count")), QStringLiteral("异常 02：寄存器地址不存在")));
    other.failures << QStringLiteral("输入3输入次数（0x0E46）读取失败：异常 02：寄存器地址不存在");

    const ModuleDef &t528 = t528Module();
    MeterRecord refused;
    refused.address = 19;
    refused.def = &t528;
    refused.result = Result::WriteFailed;
    refused.detail = QStringLiteral("继电器1 控制方式写入失败");
    refused.started = at(18, 30, 23);
    refused.elapsedMs = 8420;
    refused.hasBefore = true;
    refused.beforeTime = at(18, 30, 23);
    refused.before = pollOf(t528);
    refused.hasAfter = true;
    refused.afterTime = at(18, 30, 30);
    refused.after = pollOf(t528);
    setValue(refused.after, QStringLiteral("relay2.state"),
             unreadValue(*t528.point(QStringLiteral("relay2.state")), QStringLiteral("超时无应答")));
    WrittenValue w1 = written(t528, QStringLiteral("relay1.command"), 1, 0x5050, std::nullopt, Written::WriteFailed,
                              QStringLiteral("模块拒绝写入（异常 04）"));
    w1.time = at(18, 30, 25);
    WrittenValue w2 = written(t528, QStringLiteral("relay2.command"), 1, 0, 0, Written::Verified);
    w2.time = at(18, 30, 26);
    WrittenValue reset;
    reset.key = QStringLiteral("reset");
    reset.caption = QStringLiteral("清零 输入次数");
    reset.reg = t528.resetRegister;
    reset.written = 1;
    reset.writtenText = QStringLiteral("清零 输入次数");
    reset.writtenJson = 1;
    reset.outcome = Written::Acknowledged;
    reset.time = at(18, 30, 27);
    refused.writes << w1 << w2 << reset;
    refused.failures << QStringLiteral("继电器1控制方式（0x0E80）写入失败：模块拒绝写入（异常 04）")
                     << QStringLiteral("继电器2输出状态（0x0E25）读取失败：超时无应答");

    r.meters << done << dead << other << refused;
    return r;
}

// The HTML of the meter at `address`: from its heading to the next section.
QString meterHtml(const QString &html, int address)
{
    const int from = html.indexOf(QStringLiteral("<h2>地址 %1 · ").arg(address));
    if (from < 0)
        return QString();
    const int to = html.indexOf(QStringLiteral("</section>"), from);
    return html.mid(from, to - from);
}

} // namespace

class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void golden_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("html") << QStringLiteral("html");
        QTest::newRow("csv") << QStringLiteral("csv");
        QTest::newRow("json") << QStringLiteral("json");
    }
    void golden()
    {
        QFETCH(QString, format);
        const RunRecord record = fourMeters();
        const QByteArray out = format == QLatin1String("html")  ? recordHtml(record)
                               : format == QLatin1String("csv") ? recordCsv(record)
                                                                : recordJson(record);
        // The writers take no time of their own: two runs are the same bytes.
        QCOMPARE(out, format == QLatin1String("html")  ? recordHtml(record)
                      : format == QLatin1String("csv") ? recordCsv(record)
                                                       : recordJson(record));
        const QString file = QStringLiteral(GOLDEN_DIR "/record.") + format;
        checkGolden(file, out, [&](QString *error) { return hv52::writeRecord(file, record, error); });
    }

    void summary_data()
    {
        QTest::addColumn<QVector<MeterRecord>>("meters");
        QTest::addColumn<QString>("stopped");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("allDone");

        QTest::newRow("one meter") << QVector<MeterRecord>{meter(1, Result::Done)} << QString()
                                   << QStringLiteral("1 台：1 台完成并核对") << true;
        QTest::newRow("all done, some only recorded")
            << QVector<MeterRecord>{meter(1, Result::Done), meter(2, Result::Recorded), meter(3, Result::Done)}
            << QString() << QStringLiteral("3 台：2 台完成并核对，1 台已记录") << true;
        QTest::newRow("all done but the run stopped after")
            << QVector<MeterRecord>{meter(1, Result::Done)} << QStringLiteral("收到中断信号")
            << QStringLiteral("1 台：1 台完成并核对") << false;
        QTest::newRow("mixed, in result order, with details")
            << QVector<MeterRecord>{meter(19, Result::NoAnswer), meter(12, Result::Incomplete, "可能不是 T516"),
                                    meter(3, Result::Done), meter(7, Result::NoAnswer), meter(4, Result::Done)}
            << QString()
            << QStringLiteral(
                   "5 台：2 台完成并核对，2 台无应答（地址 19、7），1 台寄存器不全（地址 12：可能不是 T516）")
            << false;
        QTest::newRow("several details")
            << QVector<MeterRecord>{meter(5, Result::WriteFailed, "继电器1 控制方式读回不符"),
                                    meter(6, Result::WriteFailed, "输出1 下限参数值写入失败")}
            << QString()
            << QStringLiteral(
                   "2 台：2 台写入未完成（地址 5：继电器1 控制方式读回不符；地址 6：输出1 下限参数值写入失败）")
            << false;
        QTest::newRow("stopped and not reached")
            << QVector<MeterRecord>{meter(1, Result::Done), meter(2, Result::Stopped), meter(3, Result::NotReached),
                                    meter(4, Result::NotReached)}
            << QStringLiteral("收到中断信号")
            << QStringLiteral("4 台：1 台完成并核对，1 台已中断（地址 2），2 台未进行（地址 3、4）") << false;
        QTest::newRow("every other result")
            << QVector<MeterRecord>{meter(1, Result::ReadFailed), meter(2, Result::NotWritten)} << QString()
            << QStringLiteral("2 台：1 台读取失败（地址 1），1 台未写入（地址 2）") << false;
    }
    void summary()
    {
        QFETCH(QVector<MeterRecord>, meters);
        QFETCH(QString, stopped);
        QFETCH(QString, expected);
        QFETCH(bool, allDone);
        RunRecord r;
        r.meters = meters;
        r.stopped = stopped;
        QCOMPARE(r.summary(), expected);
        QCOMPARE(r.allDone(), allDone);
    }

    // A failed value reads as failed with its reason, next to its caption,
    // in the HTML and the CSV: never a blank, a dash or a 0.
    void failedValueShown_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("column"); // 1 before, 2 after
        QTest::addColumn<QString>("reason");

        QTest::newRow("refused register before") << 12 << "input3.count" << 1 << "异常 02：寄存器地址不存在";
        QTest::newRow("unreached after the refusal") << 12 << "input4.state" << 1 << "召测在前一项停止，未读取";
        QTest::newRow("timeout after writing") << 19 << "relay2.state" << 2 << "超时无应答";
    }
    void failedValueShown()
    {
        QFETCH(int, address);
        QFETCH(QString, key);
        QFETCH(int, column);
        QFETCH(QString, reason);
        const RunRecord record = fourMeters();
        const MeterRecord *m = nullptr;
        for (const MeterRecord &each : record.meters) {
            if (each.address == address)
                m = &each;
        }
        QVERIFY(m && m->def);
        const QString caption = m->def->point(key)->caption();
        const QString failed = QStringLiteral("读取失败：") + reason;

        const QString section = meterHtml(QString::fromUtf8(recordHtml(record)), address);
        QVERIFY(!section.isEmpty());
        const QRegularExpression row(
            QStringLiteral("<tr><td>%1</td>(.*)</tr>").arg(QRegularExpression::escape(caption.toHtmlEscaped())));
        const QRegularExpressionMatch match = row.match(section);
        QVERIFY2(match.hasMatch(), qPrintable(caption));
        const QStringList cells = match.captured(1).split(QStringLiteral("</td>"), Qt::SkipEmptyParts);
        QVERIFY(cells.size() >= column);
        QCOMPARE(cells[column - 1], QStringLiteral("<td class=\"failed\">") + failed.toHtmlEscaped());

        const QStringList lines = QString::fromUtf8(recordCsv(record)).split(QStringLiteral("\r\n"));
        bool found = false;
        for (const QString &line : lines) {
            const QStringList f = line.split(u','); // no cell of these meters holds a comma
            if (f.size() == 11 && f[0] == QString::number(address) && f[3] == key) {
                QCOMPARE(f[4], caption);
                QCOMPARE(f[4 + column], failed);
                found = true;
            }
        }
        QVERIFY2(found, qPrintable(key));
    }

    // A cell of the CSV as a spreadsheet takes it: quoted when it must be,
    // and never run as a formula.
    void csvCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field"); // as it stands in the file

        QTest::newRow("plain") << "控制继电器动作" << QStringLiteral("控制继电器动作");
        QTest::newRow("negative number stays a number") << "-12.5" << QStringLiteral("-12.5");
        QTest::newRow("signed number stays a number") << "+20" << QStringLiteral("+20");
        QTest::newRow("formula") << "=1+2" << QStringLiteral("'=1+2");
        QTest::newRow("formula with a comma") << "=cmd|' /C calc'!A0,1" << QStringLiteral("\"'=cmd|' /C calc'!A0,1\"");
        QTest::newRow("minus text") << "-A1" << QStringLiteral("'-A1");
        QTest::newRow("plus text") << "+86 138" << QStringLiteral("'+86 138");
        QTest::newRow("at") << "@SUM(A1)" << QStringLiteral("'@SUM(A1)");
        QTest::newRow("comma") << "4-20 mA, 0-5 V" << QStringLiteral("\"4-20 mA, 0-5 V\"");
        QTest::newRow("quote") << "称\"A\"柜" << QStringLiteral("\"称\"\"A\"\"柜\"");
        QTest::newRow("line break") << "第一行\n第二行" << QStringLiteral("\"第一行\n第二行\"");
        QTest::newRow("tab first") << "\t=1+2" << QStringLiteral("'\t=1+2");
        QTest::newRow("carriage return first") << "\r=1+2" << QStringLiteral("\"'\r=1+2\"");
        QTest::newRow("tab inside") << "A\tB" << QStringLiteral("A\tB");
    }
    void csvCells()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        RunRecord r;
        MeterRecord m = meter(1, Result::Done);
        WrittenValue w;
        w.key = QStringLiteral("x");
        w.caption = QStringLiteral("项");
        w.writtenText = text;
        w.outcome = Written::Verified;
        m.writes << w;
        r.meters << m;
        const QByteArray csv = recordCsv(r);
        QVERIFY(csv.startsWith("\xEF\xBB\xBF地址,型号,"));
        QCOMPARE(QString::fromUtf8(csv.mid(csv.indexOf("\r\n") + 2)),
                 QStringLiteral("1,T516,完成并核对,x,项,,,%1,已写入并读回核对,,\r\n").arg(field));
    }

    void writeRecord_data()
    {
        writeColumns();
        writeRow("html", "记录.html", "", "html", "");
        writeRow("htm, upper case", "RECORD.HTM", "", "html", "");
        writeRow("csv over an old file", "record.csv", "old", "csv", "");
        writeRow("json", "record.json", "", "json", "");
        writeRow("unknown extension", "record.txt", "", "", ".html、.csv 或 .json");
        writeRow("no extension", "record", "", "", ".html、.csv 或 .json");
        writeRow("a directory", "record.html", "dir", "", "是目录");
        writeRow("folder missing", "missing/record.html", "", "", "无法写入文件");
        writeRow("/dev/full", "/dev/full", "", "", "无法写入文件 /dev/full");
        writeRow("disk full mid-write, old file kept", "record.html", "small disk", "", "文件过大");
    }
    void writeRecord()
    {
        if (QByteArray(QTest::currentDataTag()) == "/dev/full" && !QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full here");
        const RunRecord record = fourMeters();
        checkWriteRow([&](const QString &file, QString *error) { return hv52::writeRecord(file, record, error); },
                      [&](const QString &format) {
                          return format == QLatin1String("html")  ? recordHtml(record)
                                 : format == QLatin1String("csv") ? recordCsv(record)
                                                                  : recordJson(record);
                      });
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--write-sample") == 0) {
        const RunRecord record = fourMeters();
        const QString file = QString::fromLocal8Bit(argv[2]);
        QString error;
        if (!writeRecord(file, record, &error)) {
            qCritical("%s", qPrintable(error));
            return 1;
        }
        QByteArray headings;
        for (const MeterRecord &m : record.meters) {
            headings +=
                QStringLiteral("地址 %1 · %2 · %3\n").arg(m.address).arg(m.kindLabel(), resultWords(m.result)).toUtf8();
        }
        QSaveFile out(file + QStringLiteral(".headings"));
        if (!out.open(QIODevice::WriteOnly) || out.write(headings) != headings.size() || !out.flush()
            || out.error() != QFileDevice::NoError) {
            qCritical("cannot write %s", qPrintable(out.fileName()));
            out.cancelWriting();
            return 1;
        }
        return out.commit() ? 0 : 1;
    }
    TestRecord test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_record.moc"
