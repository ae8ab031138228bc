// The reset button of cfg_t516 through the real window against the simulated
// module: one write of the chosen code, its outcome, and its effect.
#include "frm_t516.h"
#include "toolrig.h"

#include <QApplication>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {
using Rig = ToolRig<frm_T516>;
}

class ResetTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void codes_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("frame");
        QTest::newRow("relay 1") << 0 << "01 10 0B 00 00 01 02 60 03 74 91";
        QTest::newRow("relay 2") << 1 << writeFrame(0x0B00, 0x6004);
        QTest::newRow("all relays: one code of its own") << 2 << "01 10 0B 00 00 01 02 6F FF 71 20";
        QTest::newRow("input 1") << 3 << writeFrame(0x0B00, 0x6010);
        QTest::newRow("input 2") << 4 << writeFrame(0x0B00, 0x6011);
        QTest::newRow("all inputs") << 5 << writeFrame(0x0B00, 0x601F);
    }
    void codes()
    {
        QFETCH(int, item);
        QFETCH(QString, frame);
        Rig rig(Module::T516);
        rig.window.Combo2()->setCurrentIndex(item);
        rig.pressReset();
        QCOMPARE(rig.port.requests(), QStringList{frame});
        QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("复位成功!")});
    }

    void firstEntryAfterStartUp()
    {
        Rig rig(Module::T516);
        rig.pressReset();
        QCOMPARE(rig.port.requests(), QStringList{"01 10 0B 00 00 01 02 60 03 74 91"});
    }

    void unconfirmed()
    {
        Rig rig(Module::T516);
        rig.port.sim.setFault(Fault::Partial);
        rig.pressReset();
        QCOMPARE(int(rig.port.sim.requestCount()), 1);
        QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("复位失败!")});
    }

    void typedTextSendsNothing()
    {
        Rig rig(Module::T516);
        rig.choose(rig.window.Combo2(), QStringLiteral("全部"));
        QCOMPARE(rig.window.Combo2()->currentIndex(), -1);
        rig.pressReset();
        QCOMPARE(int(rig.port.sim.requestCount()), 0);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("复位项目“全部”不是列表中的选项，复位命令未发送。")});
    }

    void countsClearedAtNextPoll()
    {
        Rig rig(Module::T516);
        rig.press(frm_T516::kReadButton);
        QCOMPARE(rig.cell(19), QStringLiteral("1520"));
        QCOMPARE(rig.cell(21), QStringLiteral("37"));

        rig.window.Combo2()->setCurrentIndex(2); // 所有继电器输出计数器
        rig.pressReset();
        // The cells keep the last poll's values until the next one.
        QCOMPARE(rig.cell(19), QStringLiteral("1520"));
        rig.press(frm_T516::kReadButton);
        QCOMPARE(rig.cell(19), QStringLiteral("0"));
        QCOMPARE(rig.cell(21), QStringLiteral("0"));
        QCOMPARE(rig.cell(13), QStringLiteral("70000")); // the inputs are not touched
    }
};

QTEST_MAIN(ResetTest)
#include "tst_reset.moc"
