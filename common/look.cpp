#include "look.h"
#include "mark.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>

namespace hv52::look {

namespace {

const QStringList kSongFamilies = {QStringLiteral("SimSun"), QStringLiteral("宋体"),
                                   QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                                   QStringLiteral("Noto Sans CJK SC")};
const QStringList kLiFamilies = {QStringLiteral("LiSu"), QStringLiteral("隶书"), QStringLiteral("STLiti"),
                                 QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")};

const QStringList kSansFamilies = {QStringLiteral("Microsoft YaHei"), QStringLiteral("微软雅黑"),
                                   QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                                   QStringLiteral("SimHei")};
const QStringList kFixedFamilies = {QStringLiteral("Consolas"),        QStringLiteral("Courier New"),
                                    QStringLiteral("Lucida Console"),  QStringLiteral("DejaVu Sans Mono"),
                                    QStringLiteral("Liberation Mono"), QStringLiteral("Noto Sans Mono CJK SC"),
                                    QStringLiteral("monospace")};

} // namespace

QFont listFont(double points)
{
    QFont font;
    font.setFamilies(kSansFamilies);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

QFont fixedFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies(kFixedFamilies);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

QFont songFont(double points, bool bold)
{
    QFont font;
    font.setFamilies(kSongFamilies);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont titleFont()
{
    QFont font;
    font.setFamilies(kLiFamilies);
    font.setPointSizeF(21.75);
    font.setBold(true);
    return font;
}

const QString kTitleStyle = QStringLiteral("QLabel { color: #404040; }");
const QString kCaptionStyle = QStringLiteral("QLabel { color: #0000C0; }");
const QString kCellStyle = QStringLiteral("QLabel { background: #FFFFEE; color: black; }");
// As on the reference layout, the caption is drawn across the frame's top
// border instead of above it, which leaves the table its full height.
const QString kGroupStyle =
    QStringLiteral("QGroupBox { border: 1px solid #A0A0A0; margin-top: 0.55em; }"
                   "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }");
const QString kFreeTextStyle = QStringLiteral("QComboBox { border: 1px solid #A0A0A0; background: white; "
                                              "padding: 0 2px; }"
                                              "QComboBox::drop-down { width: 0px; border: none; }"
                                              "QComboBox::down-arrow { image: none; width: 0px; }");
const QColor kRuling(0x80, 0x80, 0x80);
const QColor kWarningText(0xC0, 0x00, 0x00);

const char *const kSetBackground = "#C0C0FF";
const char *const kReadBackground = "#FFFFFF";

QString buttonStyle(const char *background)
{
    return QStringLiteral("QPushButton { background: %1; border: 1px solid #808080; }"
                          "QPushButton:pressed { background: #A0A0E0; }")
        .arg(QLatin1String(background));
}

QString markStyle(Mark mark, bool label)
{
    const char *kind = label ? "QLabel" : "QComboBox";
    switch (mark) {
    case Mark::None:
        return QString();
    case Mark::Failed:
    case Mark::UnitUnknown:
        return QStringLiteral("%1 { background: #FFD6D6; color: #A00000; }").arg(QLatin1String(kind));
    case Mark::NotRead:
        return QStringLiteral("%1 { background: #E6E6E6; color: #707070; }").arg(QLatin1String(kind));
    }
    return QString();
}

void fitLongestEntry(QComboBox *box)
{
    if (box->count() == 0)
        return;
    QString longest;
    QFont font = box->font();
    int widest = 0;
    for (int i = 0; i < box->count(); ++i) {
        const int w = QFontMetrics(font).horizontalAdvance(box->itemText(i));
        if (w > widest) {
            widest = w;
            longest = box->itemText(i);
        }
    }
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = true;
    option.rect = QRect(QPoint(0, 0), box->size());
    const int room =
        box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width()
        - 2 * box->lineEdit()->textMargins().left() - 4;
    for (double points = font.pointSizeF(); points > 6 && QFontMetrics(font).horizontalAdvance(longest) > room;) {
        points -= 0.25;
        font.setPointSizeF(points);
    }
    box->setFont(font);
}

} // namespace hv52::look
