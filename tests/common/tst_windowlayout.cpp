// Twips to pixels, and the places of a group table's captions, cells, lists
// and rulings, at the screen scales the tools meet.
#include "windowlayout.h"

#include <QTest>

using hv52::GroupTable;
using hv52::WindowLayout;

namespace {

// Two columns and two rows: the shape of every group table.
GroupTable twoByTwo()
{
    return GroupTable{{{120, 1200}, {1440, 2160}}, 2};
}

} // namespace

class WindowLayoutTest : public QObject
{
    Q_OBJECT
private slots:
    void px_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("pixels");
        QTest::newRow("96 dpi: 15 to a pixel") << 1.0 << 9885 << 659;
        QTest::newRow("96 dpi: rounded") << 1.0 << 1815 << 121;
        QTest::newRow("96 dpi: a half rounds up") << 1.0 << 7 << 0;
        QTest::newRow("96 dpi: 8 twips") << 1.0 << 8 << 1;
        QTest::newRow("120 dpi") << 1.25 << 9885 << 824;
        QTest::newRow("144 dpi") << 1.5 << 300 << 30;
        QTest::newRow("zero") << 1.5 << 0 << 0;
    }
    void px()
    {
        QFETCH(double, scale);
        QFETCH(int, twips);
        QFETCH(int, pixels);
        QCOMPARE(WindowLayout(scale).px(twips), pixels);
    }

    void places_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("width");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("header") << 1.0 << "header" << 1 << 0 << 0 << QRect(96, 28, 144, 20);
        QTest::newRow("first cell") << 1.0 << "cell" << 0 << 0 << 0 << QRect(8, 56, 80, 25);
        QTest::newRow("second row") << 1.0 << "cell" << 1 << 1 << 0 << QRect(96, 86, 144, 25);
        QTest::newRow("list: inset in its row") << 1.0 << "list" << 1 << 0 << 0 << QRect(96, 58, 144, 20);
        QTest::newRow("list of its own width") << 1.0 << "list" << 1 << 1 << 2985 << QRect(96, 88, 199, 20);
        QTest::newRow("cell at 120 dpi") << 1.25 << "cell" << 1 << 1 << 0 << QRect(120, 108, 180, 31);
    }
    void places()
    {
        QFETCH(double, scale);
        QFETCH(QString, what);
        QFETCH(int, column);
        QFETCH(int, row);
        QFETCH(int, width);
        QFETCH(QRect, rect);
        const WindowLayout layout(scale);
        const GroupTable table = twoByTwo();
        const QRect got = what == QLatin1String("header") ? layout.headerRect(table, column)
                          : what == QLatin1String("cell") ? layout.cellRect(table, column, row)
                                                          : layout.listRect(table, column, row, width);
        QCOMPARE(got, rect);
    }

    // The rows' rulings first, from the one under the header down, then the
    // one between the columns, across header and rows.
    void rulings_data()
    {
        QTest::addColumn<int>("headerTop");
        QTest::addColumn<int>("firstRowTop");
        QTest::addColumn<QVector<QLine>>("lines");
        QTest::newRow("the groups' usual table") << 420 << 840
                                                 << QVector<QLine>{QLine(8, 54, 240, 54), QLine(8, 84, 240, 84),
                                                                   QLine(8, 114, 240, 114), QLine(92, 26, 92, 114)};
        QTest::newRow("rows closer under the header")
            << 390 << 750
            << QVector<QLine>{QLine(8, 48, 240, 48), QLine(8, 78, 240, 78), QLine(8, 108, 240, 108),
                              QLine(92, 24, 92, 108)};
    }
    void rulings()
    {
        QFETCH(int, headerTop);
        QFETCH(int, firstRowTop);
        QFETCH(QVector<QLine>, lines);
        GroupTable table = twoByTwo();
        table.headerTop = headerTop;
        table.firstRowTop = firstRowTop;
        QCOMPARE(WindowLayout().rulings(table), lines);
    }
};

QTEST_APPLESS_MAIN(WindowLayoutTest)
#include "tst_windowlayout.moc"
