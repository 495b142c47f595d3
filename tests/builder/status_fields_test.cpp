// The status fields never cut their text, at any width and scale: each
// shows its whole text or, where even the widest window the screen allows is
// too narrow, the text shortened with "…" and the whole of it in its tool
// tip. The fields keep their thirds of the width. This file runs twice: as
// it is and with QT_SCALE_FACTOR=2.
#include <QFontMetrics>
#include <QProgressBar>
#include <QScreen>

#include "BuilderFixture.h"

#ifdef CF_TEST_SCALE_FACTOR
// Before the test program's QApplication is made.
static const bool scaled = (setenv("QT_SCALE_FACTOR", CF_TEST_SCALE_FACTOR, 1), true);
#endif

namespace crateforge {
namespace {

class StatusFieldsTest : public BuilderTest {};

TEST_F(StatusFieldsTest, TextsAreWholeOrShortenedWithTheWholeInTheToolTip) {
    MakeWindow({"\\o", SamplePack()});
    Select({"Docs", "b.txt", "A.bin"});
    const int screenWidth = window->screen()->availableGeometry().width();
    int shortened = 0;
    for (int requested : {760, 380, 520, 1900}) {
        window->resize(requested, 500);
        Settle();
        const int w = Named<QWidget>("client")->width();
        const int h = Named<QWidget>("client")->height();
        SCOPED_TRACE(testing::Message() << "asked " << requested << ", got " << w << " at scale "
                                        << window->devicePixelRatioF());
#ifdef CF_TEST_SCALE_FACTOR
        ASSERT_EQ(window->devicePixelRatioF(), 2.0);
#endif
        // The texts never make the window wider than its screen.
        EXPECT_LE(window->minimumWidth(), screenWidth);
        const int third = w / 3;
        EXPECT_EQ(Named<StatusField>("totalText")->geometry(), QRect(0, h - 18, third - 2, 18));
        EXPECT_EQ(Named<StatusField>("selectedText")->geometry(),
                  QRect(third + 2, h - 18, third - 2, 18));
        EXPECT_EQ(window->findChild<QProgressBar*>(QStringLiteral("progressBar"))->geometry(),
                  QRect(2 * third + 4, h - 18, third - 2, 18));
        for (StatusField* field :
             {Named<StatusField>("totalText"), Named<StatusField>("selectedText")}) {
            const QString whole = field->text();
            const QString shown = field->ShownText();
            ASSERT_FALSE(whole.isEmpty());
            EXPECT_LE(field->fontMetrics().horizontalAdvance(shown), field->contentsRect().width())
                << shown.toStdString();
            const bool roomOnScreen = field->NeededWidth() * 3 + 12 <= screenWidth;
            if (roomOnScreen) {
                EXPECT_EQ(shown, whole);
            }
            if (shown == whole) {
                EXPECT_TRUE(field->toolTip().isEmpty());
            } else {
                ++shortened;
                EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
                EXPECT_TRUE(whole.startsWith(shown.chopped(1))) << shown.toStdString();
                EXPECT_EQ(field->toolTip(), whole);
            }
            // Screen readers get the whole text.
            EXPECT_EQ(field->accessibleName(), whole);
        }
    }
#ifdef CF_TEST_SCALE_FACTOR
    // Twice the scale on this small screen leaves too little room: the
    // shortened form was met.
    EXPECT_GT(shortened, 0);
#endif
    // Texts that change follow: an empty selection is shorter.
    List().clearSelection();
    Settle();
    EXPECT_EQ(SelectedText(), "Selected: 0 Files. OrgSize:0 B, Packed: 0 B");
    EXPECT_EQ(Named<StatusField>("selectedText")->accessibleName(),
              Named<StatusField>("selectedText")->text());
}

}  // namespace
}  // namespace crateforge
