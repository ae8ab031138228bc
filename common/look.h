#pragma once
// Every colour and font of the tool windows, defined once.
#include <QColor>
#include <QFont>
#include <QString>

class QComboBox;

namespace hv52 {
enum class Mark;
}

namespace hv52::look {

// 宋体 at the given size; where it is missing (any Linux box) the Debian CJK
// fonts stand in.
QFont songFont(double points, bool bold = false);
// 隶书 21.75 pt bold, for the window's title label.
QFont titleFont();
// The drop-down lists' entries: a sans CJK face (微软雅黑 on Windows), as the
// Linux boxes show them; Windows would otherwise give them its menu font,
// which resolves to a serif one where 宋体 is substituted.
QFont listFont(double points);
// Frames in hex: a fixed-pitch face that every system has one of. Qt's own
// fixed font on Windows is Courier New, which a box without it (Wine) replaces
// with a proportional one.
QFont fixedFont();

extern const QString kTitleStyle;    // title label: #404040
extern const QString kCaptionStyle;  // header and row captions: #0000C0
extern const QString kCellStyle;     // value cells: black on #FFFFEE
extern const QString kGroupStyle;    // group frames: the caption sits on the border
extern const QString kFreeTextStyle; // limit fields: an entry field, no drop-down button
extern const QColor kRuling;         // table rulings
extern const QColor kWarningText;    // the monitor's failed results and dropped-rows note

extern const char *const kSetBackground;  // set and reset buttons: #C0C0FF
extern const char *const kReadBackground; // the read button: #FFFFFF
QString buttonStyle(const char *background);

// What a marked control adds to its own style.
QString markStyle(Mark mark, bool label);

// Shrinks the font of a list until its longest entry fits its text field, so
// every entry reads whole with the fonts at hand.
void fitLongestEntry(QComboBox *box);

} // namespace hv52::look
