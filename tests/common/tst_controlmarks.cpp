// The marks on value controls: what a control reports after a run of marks,
// and that taking the mark off gives the control its own style back.
#include "controlmarks.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <memory>

using hv52::ControlMarks;
using hv52::Mark;
using hv52::NotRead;

Q_DECLARE_METATYPE(QVector<Mark>)

class ControlMarksTest : public QObject
{
    Q_OBJECT
private slots:
    void marks_data()
    {
        QTest::addColumn<bool>("label");
        QTest::addColumn<QString>("ownStyle");
        QTest::addColumn<QVector<Mark>>("marks");
        QTest::addColumn<Mark>("last");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<bool>("ownStyleShown");
        using M = QVector<Mark>;
        QTest::newRow("never marked") << true << "" << M{} << Mark::None << false << true;
        QTest::newRow("a failed read") << true << "" << M{Mark::Failed} << Mark::Failed << true << false;
        QTest::newRow("unit unknown counts as failed")
            << false << "" << M{Mark::UnitUnknown} << Mark::UnitUnknown << true << false;
        QTest::newRow("not read is no failure") << false << "" << M{Mark::NotRead} << Mark::NotRead << false << false;
        QTest::newRow("taken off") << true << "" << M{Mark::Failed, Mark::None} << Mark::None << false << true;
        QTest::newRow("free text: its style back")
            << false << "QComboBox { color: blue; }" << M{Mark::NotRead, Mark::Failed, Mark::None} << Mark::None
            << false << true;
        QTest::newRow("one mark over another") << false << "QComboBox { color: blue; }"
                                               << M{Mark::Failed, Mark::NotRead} << Mark::NotRead << false << false;
    }
    void marks()
    {
        QFETCH(bool, label);
        QFETCH(QString, ownStyle);
        QFETCH(QVector<Mark>, marks);
        QFETCH(Mark, last);
        QFETCH(bool, failed);
        QFETCH(bool, ownStyleShown);
        std::unique_ptr<QWidget> control;
        if (label)
            control = std::make_unique<QLabel>();
        else
            control = std::make_unique<QComboBox>();
        control->setStyleSheet(ownStyle);
        for (const Mark mark : marks)
            ControlMarks::setMark(control.get(), mark, mark == Mark::None ? QString() : QStringLiteral("tip"));
        QCOMPARE(ControlMarks::markOf(control.get()), last);
        QCOMPARE(ControlMarks::isMarkedFailed(control.get()), failed);
        QCOMPARE(control->styleSheet() == ownStyle, ownStyleShown);
        // A marked control's style keeps its own beneath the mark.
        QVERIFY(control->styleSheet().startsWith(ownStyle));
        QCOMPARE(control->toolTip().isEmpty(), last == Mark::None);
        // An unmarked control carries no property of the marks.
        if (last == Mark::None) {
            for (const QByteArray &name : control->dynamicPropertyNames())
                QVERIFY2(!name.startsWith("hv52"), name.constData());
        }
    }

    void notRead_data()
    {
        QTest::addColumn<NotRead>("why");
        QTest::addColumn<QString>("tip");
        QTest::newRow("ended early") << NotRead::EndedEarly << "本次召测未读到：召测提前结束，这里显示的是之前的内容。";
        QTest::newRow("port not open") << NotRead::PortNotOpen
                                       << "本次召测未读到：串口未能打开，这里显示的是之前的内容。";
        QTest::newRow("never polled") << NotRead::NeverPolled << "尚未召测：这里显示的是初始内容，不是模块中的值。";
    }
    void notRead()
    {
        QFETCH(NotRead, why);
        QFETCH(QString, tip);
        QLabel label;
        ControlMarks::setNotRead(&label, why);
        QCOMPARE(ControlMarks::markOf(&label), Mark::NotRead);
        QCOMPARE(ControlMarks::notReadWhy(&label), why);
        QCOMPARE(label.toolTip(), tip);
        ControlMarks::setMark(&label, Mark::None);
        QCOMPARE(ControlMarks::markOf(&label), Mark::None);
        QVERIFY(label.toolTip().isEmpty());
    }
};

QTEST_MAIN(ControlMarksTest)
#include "tst_controlmarks.moc"
