// The pieces of the link that need no port: CRC, command line, port names.
#include "cmdline.h"
#include "convert.h"
#include "crc.h"
#include "dataunit.h"
#include "frames.h"
#include "linkerror.h"
#include "portname.h"
#include "receiverule.h"
#include "systemtext.h"

#include <QRandomGenerator>
#include <QSysInfo>
#include <QTest>

Q_DECLARE_METATYPE(hv52::Framing)
Q_DECLARE_METATYPE(hv52::Outcome)

using namespace hv52;

// A frame closed with its CRC, low byte first.
static QByteArray withCrc(const char *hex)
{
    QByteArray frame = QByteArray::fromHex(hex);
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 255)).append(char(crc >> 8));
    return frame;
}

class FramesTest : public QObject
{
    Q_OBJECT
private slots:
    void crc_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        // Check values of the Modbus CRC-16 and the frames the module documents.
        QTest::newRow("123456789") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("abc") << QByteArray("abc") << 0x5749;
        QTest::newRow("read 0x0000") << QByteArray::fromHex("010300000001") << 0x0A84;
        QTest::newRow("whole frame ends in zero") << QByteArray::fromHex("010300000001840A") << 0;
        QTest::newRow("answer 0x1234") << QByteArray::fromHex("0103021234B533") << 0;
    }
    void crc()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, crc);
        QCOMPARE(int(crc16(bytes)), crc);
    }

    void crcStepMatchesShiftForm()
    {
        // The step over every byte and several running values against the
        // textbook shift-and-xor form.
        for (int crc : {0xFFFF, 0x0000, 0x1234, 0xA001, 0x8000}) {
            for (int byte = 0; byte < 256; ++byte) {
                int expect = crc ^ byte;
                for (int i = 0; i < 8; ++i)
                    expect = (expect & 1) ? (expect >> 1) ^ 0xA001 : expect >> 1;
                QCOMPARE(CrcResult(byte, 40961, crc), expect);
            }
        }
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxArgs");
        QTest::addColumn<QVector<qint32>>("expected");
        QTest::newRow("usual") << "1 1 9600" << 5 << QVector<qint32>{1, 1, 9600, 0};
        QTest::newRow("spaces and tabs") << "  17\t2   19200 " << 5 << QVector<qint32>{17, 2, 19200, 0};
        QTest::newRow("leading zeros") << "001 0003 09600" << 5 << QVector<qint32>{1, 3, 9600, 0};
        QTest::newRow("sixth ignored") << "1 2 3 4 5 6" << 5 << QVector<qint32>{1, 2, 3, 4, 5, 0};
        QTest::newRow("sixth ignored even if not a number") << "1 2 3 4 5 x" << 5 << QVector<qint32>{1, 2, 3, 4, 5, 0};
        QTest::newRow("empty") << "" << 5 << QVector<qint32>{0};
        QTest::newRow("address only") << "5" << 5 << QVector<qint32>{5, 0};
        QTest::newRow("largest") << "2147483647" << 5 << QVector<qint32>{2147483647, 0};
        QTest::newRow("default max") << "1 2 3 4 5 6 7 8 9 10 11" << 10
                                     << QVector<qint32>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
    }
    void commandLine()
    {
        QFETCH(QString, text);
        QFETCH(int, maxArgs);
        QFETCH(QVector<qint32>, expected);
        QCOMPARE(GetCommandLine(text, maxArgs), expected);
    }

    void badCommandLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("named");
        // The argument is quoted whole, as the parent program gave it.
        QTest::newRow("letter") << "1 a 9600"
                                << "第2个参数“a”";
        QTest::newRow("letter inside") << "1 1 96o0"
                                       << "第3个参数“96o0”";
        QTest::newRow("letters only") << "abc"
                                      << "第1个参数“abc”";
        QTest::newRow("digit then letter") << "1a 3 9600"
                                           << "第1个参数“1a”";
        QTest::newRow("too large") << "2147483648 1 9600"
                                   << "第1个参数“2147483648”";
        QTest::newRow("too large, then a letter") << "1 99999999999x 9600"
                                                  << "第2个参数“99999999999x”不是十进制整数";
        QTest::newRow("sign") << "-1 1 9600"
                              << "第1个参数“-1”";
        QTest::newRow("decimal point") << "1 1.5 9600"
                                       << "第2个参数“1.5”";
        QTest::newRow("full-width digit") << "1 １ 9600"
                                          << "第2个参数“１”";
    }
    void badCommandLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, named);
        try {
            GetCommandLine(text, 5);
            QFAIL("no error");
        } catch (const LinkError &e) {
            QVERIFY2(e.text().contains(named), qPrintable(e.text()));
        }
    }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("valid");
        const QByteArray one = frameRtu(1, readUnit(false, 0x0E42));
        const QByteArray pair = frameRtu(1, readUnit(true, 0x0E40));
        const QByteArray write = frameRtu(1, writeUnit(0x0E80, 0x5050));
        QTest::newRow("one register") << one << withCrc("0103021234") << true;
        QTest::newRow("changed data byte") << one << QByteArray::fromHex("0103021235B533") << false;
        QTest::newRow("pair") << pair << withCrc("01030400011170") << true;
        QTest::newRow("another address") << one << withCrc("0203021234") << false;
        QTest::newRow("another function") << one << withCrc("0104021234") << false;
        QTest::newRow("exception answer") << one << withCrc("018302") << false;
        // Intact frames that answer some other request: a pair where one
        // register was asked for, a wrong byte count, a trailing byte.
        QTest::newRow("pair for one") << one << withCrc("01030400011170") << false;
        QTest::newRow("one for a pair") << pair << withCrc("0103021234") << false;
        QTest::newRow("wrong byte count") << one << withCrc("0103041234") << false;
        QTest::newRow("longer frame") << one << withCrc("010302123400") << false;
        QTest::newRow("write echo") << write << withCrc("01100E800001") << true;
        QTest::newRow("echo of another register") << write << withCrc("01100E810001") << false;
        QTest::newRow("echo of another count") << write << withCrc("01100E800002") << false;
        QTest::newRow("read answer to a write") << write << withCrc("0103021234") << false;
        QTest::newRow("too short") << one << QByteArray::fromHex("0103") << false;
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(bool, valid);
        QCOMPARE(judge(answer, request).valid(), valid);
    }

    void framings_data()
    {
        QTest::addColumn<QByteArray>("unit");
        QTest::addColumn<QByteArray>("rtu");
        QTest::addColumn<QByteArray>("mbap");
        QTest::addColumn<int>("answerLength"); // of the RTU answer
        // The module's documented request frames (bus address 1); the same
        // data unit behind an MBAP header of transaction 0x0102, unit 1.
        QTest::newRow("read one at 0x0000") << readUnit(false, 0x0000) << QByteArray::fromHex("010300000001840A")
                                            << QByteArray::fromHex("010200000006010300000001") << 7;
        QTest::newRow("read pair at 0x0B00")
            << readUnit(true, 0x0B00) << QByteArray::fromHex("01030B000002C62F")
            << QByteArray::fromHex("010200000006010300000002").replace(8, 2, QByteArray::fromHex("0B00")) << 9;
        QTest::newRow("write 0x6003 to 0x0B00")
            << writeUnit(0x0B00, 0x6003) << QByteArray::fromHex("01100B0000010260037491")
            << QByteArray::fromHex("010200000009011000000001026003").replace(8, 2, QByteArray::fromHex("0B00")) << 8;
        // The requests the other tests build: input 1's state, input 1's count,
        // relay 1's command.
        QTest::newRow("read one at 0x0E42") << readUnit(false, 0x0E42) << QByteArray::fromHex("01030E42000126F6")
                                            << QByteArray::fromHex("01020000000601030E420001") << 7;
        QTest::newRow("read pair at 0x0E40") << readUnit(true, 0x0E40) << QByteArray::fromHex("01030E400002C737")
                                             << QByteArray::fromHex("01020000000601030E400002") << 9;
        QTest::newRow("write 0x5050 to 0x0E80")
            << writeUnit(0x0E80, 0x5050) << QByteArray::fromHex("01100E8000010250506A6C")
            << QByteArray::fromHex("01020000000901100E800001025050") << 8;
    }
    void framings()
    {
        QFETCH(QByteArray, unit);
        QFETCH(QByteArray, rtu);
        QFETCH(QByteArray, mbap);
        QFETCH(int, answerLength);
        QCOMPARE(frameRtu(1, unit), rtu);
        QCOMPARE(frameMbap(0x0102, 1, unit), mbap);
        QCOMPARE(splitFrame(Framing::Rtu, rtu).unit, unit);
        QCOMPARE(splitFrame(Framing::Mbap, mbap).unit, unit);
        QCOMPARE(int(splitFrame(Framing::Mbap, mbap).transaction), 0x0102);
        QCOMPARE(hv52::answerLength(rtu), answerLength);
        QCOMPARE(answerUnitLength(unit), answerLength - 3);
    }

    void receiveRule_data()
    {
        QTest::addColumn<hv52::Framing>("framing");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<bool>("beforeTimeout"); // a verdict without the timer
        QTest::addColumn<hv52::Outcome>("outcome");
        QTest::addColumn<int>("dropped");
        const QByteArray one = frameRtu(1, readUnit(false, 0x0E42));
        const QByteArray ok = withCrc("0103021234");
        QTest::newRow("rtu whole") << Framing::Rtu << one << QByteArrayList{ok} << true << Outcome::Valid << 0;
        QTest::newRow("rtu byte by byte")
            << Framing::Rtu << one << QByteArrayList{ok.left(1), ok.mid(1, 3), ok.mid(4, 2), ok.mid(6)} << true
            << Outcome::Valid << 0;
        QTest::newRow("rtu exception ends at 5")
            << Framing::Rtu << one << QByteArrayList{withCrc("018302")} << true << Outcome::Exception << 0;
        QTest::newRow("rtu three bytes") << Framing::Rtu << one << QByteArrayList{ok.left(3)} << false
                                         << Outcome::Incomplete << 0;
        QTest::newRow("rtu nothing") << Framing::Rtu << one << QByteArrayList{} << false << Outcome::Timeout << 0;
        QTest::newRow("rtu trailing bytes")
            << Framing::Rtu << one << QByteArrayList{ok + "\x01"} << true << Outcome::TooLong << 0;

        const QByteArray unit = readUnit(false, 0x0E42);
        const QByteArray req = frameMbap(7, 1, unit);
        const QByteArray answer = QByteArray::fromHex("03021234");
        const QByteArray mine = frameMbap(7, 1, answer);
        const QByteArray late = frameMbap(6, 1, QByteArray::fromHex("03021111"));
        QTest::newRow("mbap whole") << Framing::Mbap << req << QByteArrayList{mine} << true << Outcome::Valid << 0;
        QTest::newRow("mbap in pieces") << Framing::Mbap << req
                                        << QByteArrayList{mine.left(5), mine.mid(5, 3), mine.mid(8)} << true
                                        << Outcome::Valid << 0;
        // The previous request's answer, late: refused by its transaction,
        // and ours still taken after it.
        QTest::newRow("mbap late then ours") << Framing::Mbap << req << QByteArrayList{late + mine.left(4), mine.mid(4)}
                                             << true << Outcome::Valid << int(late.size());
        QTest::newRow("mbap only a late one")
            << Framing::Mbap << req << QByteArrayList{late} << false << Outcome::Late << int(late.size());
        QTest::newRow("mbap other unit") << Framing::Mbap << req << QByteArrayList{frameMbap(7, 2, answer)} << true
                                         << Outcome::WrongAddress << 0;
        QTest::newRow("mbap exception") << Framing::Mbap << req
                                        << QByteArrayList{frameMbap(7, 1, QByteArray::fromHex("8302"))} << true
                                        << Outcome::Exception << 0;
        QTest::newRow("mbap pair for one")
            << Framing::Mbap << req << QByteArrayList{frameMbap(7, 1, QByteArray::fromHex("030400011170"))} << true
            << Outcome::WrongLength << 0;
        QTest::newRow("mbap not a header")
            << Framing::Mbap << req << QByteArrayList{QByteArray::fromHex("00070001000601")} << true
            << Outcome::WrongLength << 0;
        QTest::newRow("mbap cut short") << Framing::Mbap << req << QByteArrayList{mine.left(9)} << false
                                        << Outcome::Incomplete << 0;
        QTest::newRow("mbap nothing") << Framing::Mbap << req << QByteArrayList{} << false << Outcome::Timeout << 0;
    }
    void receiveRule()
    {
        QFETCH(hv52::Framing, framing);
        QFETCH(QByteArray, request);
        QFETCH(QByteArrayList, pieces);
        QFETCH(bool, beforeTimeout);
        QFETCH(hv52::Outcome, outcome);
        QFETCH(int, dropped);
        ReceiveRule rule(framing, request);
        bool done = false;
        for (const QByteArray &piece : pieces) {
            QVERIFY(!done);
            // Never more needed than the rest of the answer in hand.
            QVERIFY(rule.needed() >= 1);
            done = rule.take(piece);
        }
        QCOMPARE(done, beforeTimeout);
        const Verdict verdict = done ? rule.verdict() : rule.expire();
        QCOMPARE(verdict.outcome, outcome);
        QCOMPARE(int(rule.dropped().size()), dropped);
        if (verdict.valid())
            QCOMPARE(unitValue(rule.answerUnit(), false), 0x1234u);
    }

    // Port number N as each system names it; the rows of the other system
    // are skipped, so the one table serves the Linux and the Windows build.
    void portNames_data()
    {
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("posix: named in HV52_SERIAL_DIR") << false << "/tmp/ports" << 3 << "/tmp/ports/com3";
        QTest::newRow("posix: first terminal") << false << "" << 1 << "/dev/ttyS0";
        QTest::newRow("posix: twelfth terminal") << false << "" << 12 << "/dev/ttyS11";
        QTest::newRow("windows: COM3") << true << "" << 3 << "COM3";
        QTest::newRow("windows: COM12, past COM9") << true << "" << 12 << "COM12";
        QTest::newRow("windows: HV52_SERIAL_DIR ignored") << true << "C:/ports" << 3 << "COM3";
    }

    void portNames()
    {
        QFETCH(bool, windows);
        QFETCH(QString, dir);
        QFETCH(int, number);
        QFETCH(QString, device);
        if (windows != (QSysInfo::kernelType() == u"winnt"))
            QSKIP("a port name of the other system");
        if (dir.isEmpty())
            qunsetenv("HV52_SERIAL_DIR");
        else
            qputenv("HV52_SERIAL_DIR", dir.toUtf8());
        QCOMPARE(serialDeviceName(number), device);
        qunsetenv("HV52_SERIAL_DIR");
        QCOMPARE(portLabel(number), QStringLiteral("COM%1").arg(number));
    }

    // The system's error texts in the operator's words: the C library's on
    // both systems, each system's own (Windows' and Wine's FormatMessage
    // texts are English) only on it. "both" rows run everywhere.
    void systemTexts_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("both: strerror ENOSPC") << "both"
                                               << "No space left on device"
                                               << "磁盘空间不足";
        QTest::newRow("both: wrapped by Qt") << "both"
                                             << "Error opening /x: Permission denied"
                                             << "无权访问";
        QTest::newRow("both: empty") << "both"
                                     << " "
                                     << "未知系统错误";
        QTest::newRow("both: unknown kept") << "both"
                                            << "Something odd"
                                            << "系统错误：Something odd";
        QTest::newRow("posix: unplugged terminal") << "posix"
                                                   << "Input/output error"
                                                   << "输入输出错误（设备已断开？）";
        QTest::newRow("posix: not a terminal") << "posix"
                                               << "Inappropriate ioctl for device"
                                               << "串口设备已断开或不是串口";
        QTest::newRow("win: COM with no port (Wine)") << "win"
                                                      << "Invalid function."
                                                      << "串口设备不存在或不支持该操作";
        QTest::newRow("win: COM with no port (Windows)") << "win"
                                                         << "Incorrect function."
                                                         << "串口设备不存在或不支持该操作";
        QTest::newRow("win: port in use") << "win"
                                          << "Access is denied."
                                          << "无权访问";
        QTest::newRow("win: disk full") << "win"
                                        << "There is not enough space on the disk."
                                        << "磁盘空间不足";
        QTest::newRow("win: adapter pulled") << "win"
                                             << "The device is not connected."
                                             << "设备已断开";
        QTest::newRow("win: file held open") << "win"
                                             << "The process cannot access the file because it is being used by "
                                                "another process."
                                             << "已被另一程序占用";
        QTest::newRow("win: Chinese Windows' own text") << "win"
                                                        << "拒绝访问。"
                                                        << "系统错误：拒绝访问";
        QTest::newRow("a sentence of its own") << "both"
                                               << "Something odd happened. "
                                               << "系统错误：Something odd happened";
    }

    void systemTexts()
    {
        QFETCH(QString, system);
        QFETCH(QString, text);
        QFETCH(QString, chinese);
        const QString here = QSysInfo::kernelType() == u"winnt" ? QStringLiteral("win") : QStringLiteral("posix");
        if (system != u"both" && system != here)
            QSKIP("a text of the other system");
        QCOMPARE(systemErrorText(text), chinese);
    }

    // Divided values as the window shows them: the exact decimal of a
    // register value over its power of ten, trailing zeros dropped; the same
    // text as the general conversion through a double gives (15 significant
    // digits, then trimmed), over random values of every size.
    void dividedText_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<double>("divisor");
        QTest::addColumn<QString>("text");
        QTest::newRow("ON time") << "86400" << 10.0 << "8640";
        QTest::newRow("tenths") << "86401" << 10.0 << "8640.1";
        QTest::newRow("milliamps") << "1225" << 100.0 << "12.25";
        QTest::newRow("below one") << "5" << 1000.0 << "0.005";
        QTest::newRow("zero") << "0" << 100.0 << "0";
        QTest::newRow("largest pair") << "4294967295" << 10.0 << "429496729.5";
        QTest::newRow("not a power of ten") << "10" << 4.0 << "2.5";
        QTest::newRow("not digits") << "-25" << 10.0 << "-2.5";
    }
    void dividedText()
    {
        QFETCH(QString, raw);
        QFETCH(double, divisor);
        QFETCH(QString, text);
        QCOMPARE(hv52::dividedText(raw, divisor), text);
    }
    void dividedTextAgreesWithTheGeneralConversion()
    {
        const auto general = [](double value) {
            if (value == 0)
                return QStringLiteral("0");
            const int magnitude = int(std::floor(std::log10(std::fabs(value))));
            QString t = QString::number(value, 'f', std::max(0, 14 - magnitude));
            while (t.contains(u'.') && t.endsWith(u'0'))
                t.chop(1);
            if (t.endsWith(u'.'))
                t.chop(1);
            return t;
        };
        QRandomGenerator random(52);
        for (int i = 0; i < 20000; ++i) {
            const quint32 raw = i % 3 == 0 ? random.bounded(1000u) : random.generate() >> random.bounded(32u);
            const double divisor = std::pow(10.0, random.bounded(7));
            QCOMPARE(hv52::dividedText(QString::number(raw), divisor), general(raw / divisor));
        }
    }
};

QTEST_GUILESS_MAIN(FramesTest)
#include "tst_frames.moc"
