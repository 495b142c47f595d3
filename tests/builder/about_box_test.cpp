// The About box: the three links, hover colours and cursor, the
// strict-inside hit test, clicks handed to the desktop, and closing.
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include "ContentFixture.h"
#include "builder/AboutDlg.h"

namespace crateforge {
namespace {

class AboutBoxTest : public ContentTest {
  protected:
    void SetUp() override { MakeWindow(); }
    std::unique_ptr<CAboutDlg> Open() {
        auto box = std::make_unique<CAboutDlg>(&shell, window.get());
        box->OnInitDialog();
        box->show();
        Settle();
        return box;
    }
    static void Move(CAboutDlg& box, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), box.mapToGlobal(QPointF(at)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &move);
    }
    static void Click(CAboutDlg& box, QPoint at) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), box.mapToGlobal(QPointF(at)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), box.mapToGlobal(QPointF(at)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &release);
    }
    // Whether the link's control shows a pixel of exactly `colour`.
    static bool Shows(CHyperLink& link, QColor colour) {
        const QImage image = link.Control()->grab().toImage();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y).rgb() == colour.rgb()) {
                    return true;
                }
            }
        }
        return false;
    }
};

TEST_F(AboutBoxTest, TheAboutCommandOpensTheBoxWithItsThreeLinks) {
    std::unique_ptr<CAboutDlg> box = Open();
    EXPECT_NE(box->findChild<QWidget*>(QStringLiteral("aboutPicture")), nullptr);
    EXPECT_TRUE(box->OkButton()->isDefault());
    // Each link sits in its own control and is drawn in the normal colour.
    const char* controls[] = {"webLink", "infoMailLink", "supportMailLink"};
    for (int i = 0; i < 3; ++i) {
        CHyperLink* link = box->Link(i);
        ASSERT_NE(link, nullptr);
        ASSERT_NE(link->Control(), nullptr);
        EXPECT_EQ(link->Control()->objectName(), QString::fromLatin1(controls[i]));
        EXPECT_FALSE(link->IsHot());
        EXPECT_TRUE(Shows(*link, kLinkNormalColor));
        EXPECT_FALSE(Shows(*link, kLinkHotColor));
    }
    WhenModal<CAboutDlg>([](CAboutDlg& shown) { shown.OkButton()->click(); });
    Trigger(Command::About);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(AboutBoxTest, HoverTurnsALinkHotWithTheHandCursor) {
    std::unique_ptr<CAboutDlg> box = Open();
    CHyperLink& web = *box->Link(0);
    CHyperLink& info = *box->Link(1);
    const QPoint overWeb = web.HitRect().center();
    const QPoint overInfo = info.HitRect().center();

    Move(*box, overWeb);
    Settle();
    EXPECT_TRUE(web.IsHot());
    EXPECT_TRUE(Shows(web, kLinkHotColor));
    EXPECT_EQ(box->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(CAboutDlg::HandCursorShown());

    // Straight onto the next link: the first goes back, the hand stays.
    Move(*box, overInfo);
    Settle();
    EXPECT_FALSE(web.IsHot());
    EXPECT_TRUE(info.IsHot());
    EXPECT_TRUE(Shows(web, kLinkNormalColor));
    EXPECT_FALSE(Shows(web, kLinkHotColor));
    EXPECT_EQ(box->cursor().shape(), Qt::PointingHandCursor);

    // Elsewhere: all normal, the arrow is back.
    Move(*box, QPoint(2, 2));
    EXPECT_FALSE(info.IsHot());
    EXPECT_EQ(box->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(CAboutDlg::HandCursorShown());
}

TEST_F(AboutBoxTest, EdgesAreOutsideAndClicksOpenTheTarget) {
    std::unique_ptr<CAboutDlg> box = Open();
    CHyperLink& web = *box->Link(0);
    const QRect r = web.HitRect();
    const int midY = r.top() + r.height() / 2;
    const int midX = r.left() + r.width() / 2;
    const int right = r.left() + r.width();  // one past the last pixel
    const int bottom = r.top() + r.height();
    struct Probe {
        QPoint at;
        bool inside;
    };
    for (const Probe& p : {Probe{{r.left(), midY}, false}, Probe{{r.left() + 1, midY}, true},
                           Probe{{right, midY}, false}, Probe{{right - 1, midY}, true},
                           Probe{{midX, r.top()}, false}, Probe{{midX, bottom}, false},
                           Probe{{midX, bottom - 1}, true}}) {
        EXPECT_EQ(web.HitTest(p.at), p.inside) << p.at.x() << "," << p.at.y();
    }

    // Between the links: nothing.
    const QRect info = box->Link(1)->HitRect();
    Click(*box, QPoint(midX, (bottom + info.top()) / 2));
    EXPECT_TRUE(shell.Calls().empty());
    for (int i = 0; i < 3; ++i) {
        Click(*box, box->Link(i)->HitRect().center());
    }
    ASSERT_EQ(shell.Calls().size(), 3u);
    EXPECT_EQ(shell.Calls()[0].target, "https://www.varnholt.example/");
    EXPECT_EQ(shell.Calls()[1].target, "mailto:info@varnholt.example");
    EXPECT_EQ(shell.Calls()[2].target, "mailto:support@varnholt.example");
    EXPECT_TRUE(box->isVisible());
}

TEST_F(AboutBoxTest, ButtonEnterAndEscapeClose) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        std::unique_ptr<CAboutDlg> box = Open();
        if (way == 0) {
            box->OkButton()->click();
        } else {
            QTest::keyClick(box.get(), way == 1 ? Qt::Key_Return : Qt::Key_Escape);
        }
        EXPECT_FALSE(box->isVisible());
        EXPECT_EQ(box->result(), QDialog::Rejected);
        EXPECT_EQ(box->Link(0), nullptr);  // the links go with the closing
    }
}

}  // namespace
}  // namespace crateforge
