// The windows' editable lists apart from any window: what a shown value
// selects, and that typing never selects an entry the operator did not choose.
#include "controlmarks.h"
#include "valuelist.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <memory>

using hv52::ControlMarks;
using hv52::Mark;
using hv52::ValueList;

namespace {

const QStringList kItems = {QStringLiteral("报警输出"), QStringLiteral("遥控"), QStringLiteral("动作"),
                            QStringLiteral("复归")};

std::unique_ptr<QComboBox> list(int selected)
{
    std::unique_ptr<QComboBox> box(ValueList::create(nullptr, QStringLiteral("Combo1_2"), kItems,
                                                     QStringLiteral("复归"), QRect(0, 0, 200, 20), false));
    if (selected >= 0)
        box->setCurrentIndex(selected);
    return box;
}

} // namespace

class ValueListTest : public QObject
{
    Q_OBJECT
private slots:
    void created()
    {
        const std::unique_ptr<QComboBox> box = list(-1);
        QCOMPARE(box->objectName(), QStringLiteral("Combo1_2"));
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), QStringLiteral("复归"));
        QCOMPARE(box->count(), int(kItems.size()));
        QVERIFY(!box->completer());
    }

    void show_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::newRow("an entry") << -1 << "动作" << 2;
        QTest::newRow("the entry already selected") << 2 << "动作" << 2;
        QTest::newRow("another entry") << 0 << "复归" << 3;
        QTest::newRow("no entry: as text") << 1 << "65535" << -1;
        QTest::newRow("a prefix is no entry") << -1 << "动" << -1;
        QTest::newRow("empty") << 3 << "" << -1;
    }
    void show()
    {
        QFETCH(int, selected);
        QFETCH(QString, text);
        QFETCH(int, index);
        const std::unique_ptr<QComboBox> box = list(selected);
        ValueList::show(box.get(), text);
        QCOMPARE(box->currentIndex(), index);
        QCOMPARE(box->currentText(), text);
        QCOMPARE(box->lineEdit()->cursorPosition(), 0);
    }

    // Typed text leaves no entry selected, also when it spells one, and
    // takes the mark off the list.
    void typing_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("enter");
        QTest::addColumn<QString>("text");
        QTest::newRow("over a selected entry") << 2 << "x" << false << "动作x";
        QTest::newRow("none selected") << -1 << "1" << false << "复归1";
        QTest::newRow("Enter after an entry's text") << -1 << "" << true << "复归";
    }
    void typing()
    {
        QFETCH(int, selected);
        QFETCH(QString, typed);
        QFETCH(bool, enter);
        QFETCH(QString, text);
        const std::unique_ptr<QComboBox> box = list(selected);
        ControlMarks::setMark(box.get(), Mark::Failed, QStringLiteral("tip"));
        QLineEdit *edit = box->lineEdit();
        edit->setCursorPosition(edit->text().size());
        QTest::keyClicks(edit, typed);
        if (enter)
            QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), text);
        QCOMPARE(box->count(), int(kItems.size()));
        if (!typed.isEmpty())
            QCOMPARE(ControlMarks::markOf(box.get()), Mark::None);
    }
};

QTEST_MAIN(ValueListTest)
#include "tst_valuelist.moc"
