// AboutDlg.cpp - the About box, its picture and its links.
#include "builder/AboutDlg.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "builder/Accessibility.h"
#include "builder/DialogUnits.h"
#include "builder/QtPlatform.h"

namespace crateforge {

namespace {

// The template's size and control rectangles, in dialog units.
constexpr int kDialogWidth = 264;
constexpr int kDialogHeight = 130;
constexpr UnitRect kPictureRect{6, 6, 111, 95};
constexpr UnitRect kTitleRect{126, 10, 132, 36};
constexpr UnitRect kWebRect{126, 54, 132, 12};
constexpr UnitRect kInfoRect{126, 72, 132, 12};
constexpr UnitRect kSupportRect{126, 84, 132, 12};
constexpr UnitRect kOkRect{6, 108, 252, 16};

const char* const kLinkControls[3] = {"webLink", "infoMailLink", "supportMailLink"};

// The box's picture: a wooden crate with files going into it, drawn for the
// program (no image file needed).
class AboutPicture : public QWidget {
  public:
    explicit AboutPicture(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("aboutPicture"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal w = width();
        const qreal h = height();

        // Sky behind the crate.
        QLinearGradient sky(0, 0, 0, h);
        sky.setColorAt(0.0, QColor(196, 222, 246));
        sky.setColorAt(1.0, QColor(240, 246, 252));
        p.fillRect(rect(), sky);
        p.setPen(QPen(QColor(120, 140, 160), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(0.5, 0.5, w - 1, h - 1));

        // The crate, seen a little from above: front, top and side faces.
        const qreal left = w * 0.14, right = w * 0.72, top = h * 0.46, bottom = h * 0.90;
        const qreal depthX = w * 0.16, depthY = h * 0.12;
        const QColor plank(196, 140, 78), plankDark(150, 100, 50), plankLight(222, 176, 112);
        const QPen edge(QColor(92, 58, 26), 1.6);

        QPainterPath topFace;
        topFace.moveTo(left, top);
        topFace.lineTo(left + depthX, top - depthY);
        topFace.lineTo(right + depthX, top - depthY);
        topFace.lineTo(right, top);
        topFace.closeSubpath();
        QPainterPath sideFace;
        sideFace.moveTo(right, top);
        sideFace.lineTo(right + depthX, top - depthY);
        sideFace.lineTo(right + depthX, bottom - depthY);
        sideFace.lineTo(right, bottom);
        sideFace.closeSubpath();

        // Files dropping into the open top.
        auto file = [&](qreal x, qreal y, qreal angle, const QColor& colour) {
            p.save();
            p.translate(x, y);
            p.rotate(angle);
            const qreal fw = w * 0.13, fh = h * 0.17, fold = fw * 0.32;
            QPainterPath sheet;
            sheet.moveTo(0, 0);
            sheet.lineTo(fw - fold, 0);
            sheet.lineTo(fw, fold);
            sheet.lineTo(fw, fh);
            sheet.lineTo(0, fh);
            sheet.closeSubpath();
            p.setPen(QPen(QColor(70, 80, 100), 1.2));
            p.setBrush(colour);
            p.drawPath(sheet);
            p.setPen(QPen(QColor(120, 130, 150), 1));
            for (int line = 1; line <= 3; ++line) {
                const qreal ly = fh * (0.25 + 0.18 * line);
                p.drawLine(QPointF(fw * 0.18, ly), QPointF(fw * 0.82, ly));
            }
            p.restore();
        };
        p.setPen(edge);
        p.setBrush(plankDark);
        p.drawPath(topFace);
        file(w * 0.30, h * 0.08, -14, QColor(255, 255, 255));
        file(w * 0.50, h * 0.16, 10, QColor(255, 244, 200));
        file(w * 0.36, h * 0.27, 4, QColor(220, 236, 255));

        // Front of the crate, with planks and a diagonal brace.
        p.setPen(edge);
        p.setBrush(plank);
        p.drawRect(QRectF(left, top, right - left, bottom - top));
        p.setBrush(plankLight);
        p.drawPath(sideFace);
        p.setPen(QPen(plankDark, 1.2));
        for (int i = 1; i < 3; ++i) {
            const qreal y = top + (bottom - top) * i / 3.0;
            p.drawLine(QPointF(left, y), QPointF(right, y));
            p.drawLine(QPointF(right, y), QPointF(right + depthX, y - depthY));
        }
        p.setPen(QPen(QColor(120, 76, 34), w * 0.05, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(left + w * 0.03, bottom - h * 0.03),
                   QPointF(right - w * 0.03, top + h * 0.03));
        p.setPen(edge);
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(left, top, right - left, bottom - top));

        // Downward arrow into the crate.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 110, 200));
        QPainterPath arrow;
        const qreal ax = w * 0.80, ay = h * 0.06, aw = w * 0.07, ah = h * 0.22;
        arrow.moveTo(ax - aw / 2, ay);
        arrow.lineTo(ax + aw / 2, ay);
        arrow.lineTo(ax + aw / 2, ay + ah * 0.6);
        arrow.lineTo(ax + aw, ay + ah * 0.6);
        arrow.lineTo(ax, ay + ah);
        arrow.lineTo(ax - aw, ay + ah * 0.6);
        arrow.lineTo(ax - aw / 2, ay + ah * 0.6);
        arrow.closeSubpath();
        p.drawPath(arrow);
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// CHyperLink

CHyperLink::CHyperLink(std::string target, std::string text, const QFont* font,
                       QWidget* parentWindow, const QString& controlName)
    : target(std::move(target)),
      text(std::move(text)),
      parentWindow(parentWindow),
      controlName(controlName),
      font(font) {
    control = parentWindow->findChild<QWidget*>(controlName);
    if (control == nullptr) {
        return;
    }
    clientRect = control->rect();
    // The control's rectangle in the dialog's client coordinates.
    hitRect = QRect(control->mapTo(parentWindow, QPoint(0, 0)), control->size());
    // Reached with Tab, read out as a link, opened with Enter or Space.
    control->setFocusPolicy(Qt::TabFocus);
    MarkAsLink(control);
    control->setAccessibleName(DisplayText(this->text));
    control->setAccessibleDescription(QStringLiteral("Opens ") + DisplayText(this->target));
    control->installEventFilter(this);
}

CHyperLink::~CHyperLink() {
    if (control != nullptr) {
        control->removeEventFilter(this);
        control->update();
    }
}

bool CHyperLink::HitTest(const QPoint& point) const {
    return hitRect.left() < point.x() && point.x() < hitRect.left() + hitRect.width() &&
           hitRect.top() < point.y() && point.y() < hitRect.top() + hitRect.height();
}

void CHyperLink::SetHot() {
    if (!hot) {
        hot = true;
        Draw();
    }
}

void CHyperLink::SetNormal() {
    if (hot) {
        hot = false;
        Draw();
    }
}

void CHyperLink::Draw() {
    if (control != nullptr) {
        control->update();
    }
}

bool CHyperLink::eventFilter(QObject* watched, QEvent* event) {
    if (watched != control) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::Paint:
            Paint();
            return true;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            control->update();
            break;
        case QEvent::KeyPress:
            switch (static_cast<QKeyEvent*>(event)->key()) {
                case Qt::Key_Return:
                case Qt::Key_Enter:
                case Qt::Key_Space:
                    emit Activated(target);
                    return true;  // not the box's default button
                default:
                    break;
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void CHyperLink::Paint() {
    QPainter painter(control);
    painter.fillRect(clientRect, control->palette().color(QPalette::Button));
    if (font != nullptr) {
        painter.setFont(*font);
    }
    painter.setPen(TextColor());
    painter.drawText(clientRect, Qt::AlignHCenter | Qt::AlignVCenter, DisplayText(text));
    if (control->hasFocus()) {
        // Where the keyboard is, as every focusable control shows it.
        QStyleOptionFocusRect focus;
        focus.initFrom(control);
        focus.rect = clientRect.adjusted(1, 1, -1, -1);
        control->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, control);
    }
}

// ---------------------------------------------------------------------------
// CAboutDlg

bool CAboutDlg::handCursorShown = false;

CAboutDlg::CAboutDlg(ShellService* shell, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      shell(shell) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QString::fromLatin1(kAboutCaption));
    setModal(true);
    setMouseTracking(true);

    // Every text must fit its control: the link texts in the link font.
    DialogUnits units(font());
    QFont linkMeasure(font());
    linkMeasure.setPixelSize(kLinkFontHeight);
    linkMeasure.setUnderline(true);
    const QFontMetrics linkMetrics(linkMeasure);
    units.Fit(linkMetrics.horizontalAdvance(QString::fromLatin1(kWebAddress)) + 8, kWebRect.width);
    units.Fit(linkMetrics.horizontalAdvance(QString::fromLatin1(kSupportMailAddress)) + 8,
              kSupportRect.width);
    auto place = [&](QWidget* widget, const UnitRect& r) { widget->setGeometry(units.Pixels(r)); };
    setFixedSize(units.X(kDialogWidth), units.Y(kDialogHeight));

    place(new AboutPicture(this), kPictureRect);

    auto* title = new QLabel(QString::fromLatin1(kAboutTitleText), this);
    title->setObjectName(QStringLiteral("aboutTitle"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    title->setFont(titleFont);
    title->setAlignment(Qt::AlignCenter);
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    place(title, kTitleRect);
    title->setWordWrap(true);

    // The empty statics the links draw into; the box gets the mouse over them.
    const UnitRect* rects[3] = {&kWebRect, &kInfoRect, &kSupportRect};
    for (int i = 0; i < 3; ++i) {
        auto* statik = new QWidget(this);
        statik->setObjectName(QString::fromLatin1(kLinkControls[i]));
        statik->setAttribute(Qt::WA_TransparentForMouseEvents);
        place(statik, *rects[i]);
    }

    // The only button carries the cancel role: it, Enter and Escape close.
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    place(okButton, kOkRect);
    connect(okButton, &QPushButton::clicked, this, &CAboutDlg::OnCancel);
}

CAboutDlg::~CAboutDlg() = default;

int CAboutDlg::RunModal() {
    OnInitDialog();
    return exec();
}

void CAboutDlg::OnInitDialog() {
    linkFont = std::make_unique<QFont>(font());
    linkFont->setPixelSize(kLinkFontHeight);
    linkFont->setWeight(QFont::Normal);
    linkFont->setItalic(false);
    linkFont->setUnderline(true);
    linkFont->setStrikeOut(false);

    const std::string info(kInfoMailAddress);
    const std::string support(kSupportMailAddress);
    links[0] = std::make_unique<CHyperLink>(kWebAddress, kWebAddress, linkFont.get(), this,
                                            QString::fromLatin1(kLinkControls[0]));
    links[1] = std::make_unique<CHyperLink>("mailto:" + info, info, linkFont.get(), this,
                                            QString::fromLatin1(kLinkControls[1]));
    links[2] = std::make_unique<CHyperLink>("mailto:" + support, support, linkFont.get(), this,
                                            QString::fromLatin1(kLinkControls[2]));
    for (const auto& link : links) {
        connect(link.get(), &CHyperLink::Activated, this, [this](const std::string& target) {
            shell->ShellOpen(target, std::string_view());
        });
        link->Draw();
    }
    okButton->setFocus();
}

CHyperLink* CAboutDlg::Link(int i) const {
    return i >= 0 && i < 3 ? links[static_cast<std::size_t>(i)].get() : nullptr;
}

void CAboutDlg::OnCancel() {
    for (auto& link : links) {
        link.reset();
    }
    linkFont.reset();
    QDialog::reject();
}

void CAboutDlg::reject() {
    OnCancel();
}

void CAboutDlg::OnMouseMove(const QPoint& point) {
    bool over = false;
    for (const auto& link : links) {
        if (link != nullptr && link->HitTest(point)) {
            over = true;
        }
    }
    if (over) {
        handCursorShown = true;
        setCursor(Qt::PointingHandCursor);
    } else if (handCursorShown) {
        handCursorShown = false;
        setCursor(Qt::ArrowCursor);
    }
    for (const auto& link : links) {
        if (link == nullptr) {
            continue;
        }
        if (link->HitTest(point)) {
            link->SetHot();
        } else {
            link->SetNormal();
        }
    }
}

void CAboutDlg::OnLButtonUp(const QPoint& point) {
    for (const auto& link : links) {
        if (link != nullptr && link->HitTest(point)) {
            shell->ShellOpen(link->GetTarget(), std::string_view());
            break;
        }
    }
}

void CAboutDlg::mouseMoveEvent(QMouseEvent* event) {
    OnMouseMove(event->position().toPoint());
    QDialog::mouseMoveEvent(event);
}

void CAboutDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        OnLButtonUp(event->position().toPoint());
    }
    QDialog::mouseReleaseEvent(event);
}

}  // namespace crateforge
