// DialogUnits.h - placing a dialog's controls by dialog units.
//
// The dialogs are laid out in dialog units: a quarter of the font's average
// character width across, an eighth of its height down, where the average
// width is taken over "A".."Z" and "a".."z" as desktop dialogs do. Fonts
// differ from desktop to desktop, so a text that would not fit its control
// widens the units across until every text fits, and the whole dialog grows
// with them instead of clipping the text.
#pragma once

#include <QFontMetrics>
#include <QString>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace crateforge {

struct UnitRect {
    int x, y, width, height;
};

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        unitX = std::max(1, (letters / 26 + 1) / 2);
        unitY = std::max(1, metrics.height());
    }

    // Widens the units so that `pixels` fit into `units` dialog units across.
    void Fit(int pixels, int units) {
        if (units > 0) {
            unitX = std::max(unitX, (pixels * 4 + units - 1) / units);
        }
    }
    QRect Pixels(const UnitRect& r) const { return QRect(X(r.x), Y(r.y), X(r.width), Y(r.height)); }
    int X(int units) const { return units * unitX / 4; }
    int Y(int units) const { return units * unitY / 8; }

  private:
    int unitX;
    int unitY;
};

}  // namespace crateforge
