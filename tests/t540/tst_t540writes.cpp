// Input-mode settings, counter resets and the continue question of cfg_t540.
#include "t540bench.h"

#include <QLineEdit>

using t540test::Bench;
using t540test::writeFrame;
using hv52sim::Fault;

namespace {

const QString kSetOk = QStringLiteral("设置成功！");
const QString kSetFailed = QStringLiteral("设置失败！");
const QString kResetOk = QStringLiteral("复位成功!");
const QString kResetFailed = QStringLiteral("复位失败!");

QString question(int failures)
{
    return QStringLiteral("通讯失败：%1次,继续吗？").arg(failures);
}

enum class Write { Setting, Reset };

// One write of either kind; the setting writes input 1's mode.
void write(Bench &bench, Write kind)
{
    if (kind == Write::Setting)
        bench.setMode(0);
    else
        bench.reset();
}

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Write)

class TestT540Writes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    // Frames for inputs other than 3 carry the simulator's CRC; input 3's is the documented one.
    void inputMode_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("mode");
        QTest::addColumn<quint16>("reg");
        QTest::addColumn<QString>("frame");
        QTest::newRow("input 1 mode 0") << 0 << 0 << quint16(0x0E8A) << writeFrame(0x0E8A, 0);
        QTest::newRow("input 2 mode 1") << 1 << 1 << quint16(0x0E8B) << writeFrame(0x0E8B, 1);
        QTest::newRow("input 3 mode 1") << 2 << 1 << quint16(0x0E8C) << "01 10 0E 8C 00 01 02 00 01 97 5C";
        QTest::newRow("input 4 mode 0") << 3 << 0 << quint16(0x0E8D) << writeFrame(0x0E8D, 0);
        QTest::newRow("input 5 mode 1") << 4 << 1 << quint16(0x0E8E) << writeFrame(0x0E8E, 1);
        QTest::newRow("input 6 mode 0") << 5 << 0 << quint16(0x0E8F) << writeFrame(0x0E8F, 0);
        QTest::newRow("input 7 mode 1") << 6 << 1 << quint16(0x0E90) << writeFrame(0x0E90, 1);
    }
    void inputMode()
    {
        QFETCH(int, button);
        QFETCH(int, mode);
        QFETCH(quint16, reg);
        QFETCH(QString, frame);
        Bench bench;
        bench.sim.sim.setRegister(reg, quint16(1 - mode));
        bench.window.Combo1(button)->setCurrentIndex(mode);
        bench.setMode(button);
        QCOMPARE(bench.sim.requests(), QStringList{frame});
        QCOMPARE(bench.sim.sim.reg(reg), quint16(mode));
        QCOMPARE(bench.messages.shown, QStringList{kSetOk});
    }

    void reset_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("frame");
        for (int i = 0; i < 7; ++i)
            QTest::addRow("input %d", i + 1) << i << writeFrame(0x0B00, quint16(0x6010 + i));
        QTest::newRow("all inputs") << 7 << "01 10 0B 00 00 01 02 60 1F 75 58";
    }
    void reset()
    {
        QFETCH(int, index);
        QFETCH(QString, frame);
        Bench bench;
        bench.window.Combo2()->setCurrentIndex(index);
        bench.reset();
        QCOMPARE(bench.sim.requests(), QStringList{frame});
        QCOMPARE(bench.messages.shown, QStringList{kResetOk});
    }

    // The cells keep the last poll's values until the operator polls again.
    void resetLeavesCells()
    {
        Bench bench;
        bench.sim.sim.setRegister32(hv52sim::regs::inputCount(0), 70000);
        bench.sim.sim.setRegister32(hv52sim::regs::inputOnTime(0), 1234);
        bench.poll();
        bench.window.Combo2()->setCurrentIndex(0);
        bench.reset();
        QCOMPARE(bench.messages.last(), kResetOk);
        QCOMPARE(bench.cell(13), QStringLiteral("70000"));
        QCOMPARE(bench.cell(15), QStringLiteral("123.4"));
        bench.poll();
        QCOMPARE(bench.cell(13), QStringLiteral("0"));
        QCOMPARE(bench.cell(15), QStringLiteral("0"));
    }

    void failedWrite_data()
    {
        QTest::addColumn<Write>("kind");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("shown");
        QTest::newRow("setting, silent") << Write::Setting << Fault::Silent << kSetFailed;
        QTest::newRow("setting, exception") << Write::Setting << Fault::Exception << kSetFailed;
        QTest::newRow("setting, bad CRC") << Write::Setting << Fault::BadCrc << kSetFailed;
        QTest::newRow("reset, silent") << Write::Reset << Fault::Silent << kResetFailed;
        QTest::newRow("reset, exception") << Write::Reset << Fault::Exception << kResetFailed;
        QTest::newRow("reset, bad CRC") << Write::Reset << Fault::BadCrc << kResetFailed;
    }
    void failedWrite()
    {
        QFETCH(Write, kind);
        QFETCH(Fault, fault);
        QFETCH(QString, shown);
        Bench bench;
        bench.sim.sim.setFault(fault);
        write(bench, kind);
        QCOMPARE(bench.sent(), size_t(1));
        QCOMPARE(bench.messages.shown, QStringList{shown});
        QCOMPARE(bench.window.link().failureCount(), qint16(1));
    }

    // A list with no entry chosen ends on the error path: nothing is sent.
    void noListEntry_data()
    {
        QTest::addColumn<Write>("kind");
        QTest::newRow("setting") << Write::Setting;
        QTest::newRow("reset") << Write::Reset;
    }
    void noListEntry()
    {
        QFETCH(Write, kind);
        Bench bench;
        if (kind == Write::Reset)
            QTest::keyClicks(bench.window.Combo2()->lineEdit(), QStringLiteral("x"));
        else
            bench.window.Combo1(0)->setCurrentIndex(-1);
        QCOMPARE((kind == Write::Reset ? bench.window.Combo2() : bench.window.Combo1(0))->currentIndex(), -1);
        write(bench, kind);
        QCOMPARE(bench.sent(), size_t(0));
        QCOMPARE(bench.messages.shown.size(), 1);
        const QStringList outcomes = {kSetOk, kSetFailed, kResetOk, kResetFailed};
        QVERIFY(!outcomes.contains(bench.messages.last()));
        QVERIFY(!bench.window.link().MSComm1.isOpen());
    }

    // Five failures, however they came, make the next write ask first.
    void continueQuestion_data()
    {
        QTest::addColumn<bool>("failByPoll");
        QTest::addColumn<Write>("kind");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("settings failed, OK") << false << Write::Setting << true << kSetOk;
        QTest::newRow("settings failed, Cancel") << false << Write::Setting << false << kSetFailed;
        QTest::newRow("poll failed, reset OK") << true << Write::Reset << true << kResetOk;
        QTest::newRow("poll failed, reset Cancel") << true << Write::Reset << false << kResetFailed;
    }
    void continueQuestion()
    {
        QFETCH(bool, failByPoll);
        QFETCH(Write, kind);
        QFETCH(bool, answer);
        QFETCH(QString, shown);
        Bench bench;
        bench.sim.sim.setFault(Fault::Silent, 5);
        if (failByPoll) {
            bench.poll();
        } else {
            for (int i = 0; i < 5; ++i)
                write(bench, Write::Setting);
        }
        QCOMPARE(bench.window.link().failureCount(), qint16(5));
        QVERIFY(!bench.messages.asked.contains(true));

        bench.messages.clear();
        bench.messages.answers = {answer};
        const size_t before = bench.sent();
        write(bench, kind);
        QCOMPARE(bench.messages.shown, (QStringList{question(5), shown}));
        QCOMPARE(bench.messages.asked, (QList<bool>{true, false}));
        QCOMPARE(bench.sent(), before + (answer ? 1 : 0));
        QCOMPARE(bench.window.link().failureCount(), qint16(answer ? 5 : -1));
    }

    // With OK every time, the question comes at 5 and 11 failures and each write goes out.
    void questionAtFiveAndEleven()
    {
        Bench bench;
        bench.sim.sim.setFault(Fault::Silent);
        for (int i = 0; i < 12; ++i)
            write(bench, i % 2 ? Write::Reset : Write::Setting);
        QCOMPARE(bench.sent(), size_t(12));
        QStringList questions;
        for (int i = 0; i < bench.messages.shown.size(); ++i) {
            if (bench.messages.asked[i])
                questions << bench.messages.shown[i];
        }
        QCOMPARE(questions, (QStringList{question(5), question(11)}));
        QCOMPARE(bench.window.link().failureCount(), qint16(12));
    }

    // After Cancel, writes stay refused through good polls; a failed read lifts it.
    void cancelHoldsUntilFailedRead()
    {
        Bench bench;
        bench.sim.sim.setFault(Fault::Silent, 5);
        for (int i = 0; i < 5; ++i)
            write(bench, Write::Reset);
        bench.messages.answers = {false};
        write(bench, Write::Setting);
        QCOMPARE(bench.window.link().failureCount(), qint16(-1));

        bench.messages.clear();
        bench.poll(); // every read answered
        const size_t afterPoll = bench.sent();
        write(bench, Write::Setting);
        write(bench, Write::Reset);
        QCOMPARE(bench.sent(), afterPoll);
        QCOMPARE(bench.messages.shown,
                 (QStringList{QStringLiteral("召测数据，完成！"), kSetFailed, kResetFailed}));
        QVERIFY(!bench.messages.asked.contains(true));

        bench.sim.sim.setFault(Fault::Silent, 1);
        bench.poll();
        QCOMPARE(bench.window.link().failureCount(), qint16(0));
        bench.messages.clear();
        const size_t before = bench.sent();
        write(bench, Write::Setting);
        QCOMPARE(bench.sent(), before + 1);
        QCOMPARE(bench.messages.shown, QStringList{kSetOk});
    }
};

QTEST_MAIN(TestT540Writes)
#include "tst_t540writes.moc"
