// AboutDlg.h - the About box (CAboutDlg) and its link control (CHyperLink).
//
// The box shows the program's name and version, a picture drawn for it, and
// three links of the maker: the web address and two mail addresses. Each
// link is drawn by a CHyperLink into an empty static control: underlined
// text in RGB(0, 0, 128), RGB(0, 0, 255) while the mouse is over it, with
// the hand cursor; a click hands its target to the desktop (shell open).
// The links are reached with Tab, show a focus frame, are opened with Enter
// or Space, and are described to screen readers as links.
//
// Use: construct with the shell service, then RunModal(). Tests call
// OnInitDialog() and show() instead and send mouse events to the box.
//
// Widgets (objectName): "aboutDialog", "aboutPicture", "aboutTitle",
// the link statics "webLink" (1011), "infoMailLink" (1012),
// "supportMailLink" (1013), and the button "okButton".
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QRect>
#include <array>
#include <memory>
#include <string>

#include "Version.h"
#include "platform/Platform.h"

class QPushButton;

namespace crateforge {

inline constexpr char kAboutCaption[] = "About Crateforge22";
inline constexpr char kAboutTitleText[] = "Crateforge V" CF_VERSION_STRING;
inline constexpr char kWebAddress[] = "https://www.varnholt.example/";
inline constexpr char kInfoMailAddress[] = "info@varnholt.example";
inline constexpr char kSupportMailAddress[] = "support@varnholt.example";
inline constexpr QColor kLinkHotColor{0, 0, 255};
inline constexpr QColor kLinkNormalColor{0, 0, 128};
inline constexpr int kLinkFontHeight = 15;  // pixels

// One link, drawn into the static control `controlName` of `parentWindow`.
class CHyperLink : public QObject {
    Q_OBJECT
  public:
    CHyperLink(std::string target, std::string text, const QFont* font, QWidget* parentWindow,
               const QString& controlName);
    ~CHyperLink() override;

    // True when `point` (the dialog's client coordinates) lies strictly
    // inside the control's rectangle: a point on an edge is outside.
    bool HitTest(const QPoint& point) const;
    void SetHot();
    void SetNormal();
    // Redraws in the colour `hot` gives.
    void Draw();
    std::string GetTarget() const { return target; }

    bool IsHot() const { return hot; }
    const std::string& Text() const { return text; }
    QColor TextColor() const { return hot ? kLinkHotColor : kLinkNormalColor; }
    QRect HitRect() const { return hitRect; }
    QWidget* Control() const { return control; }

  signals:
    // Enter or Space on the focused link (a click goes through the box).
    void Activated(const std::string& target);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Paint();

    std::string target;
    std::string text;
    QWidget* parentWindow;  // not owned
    QString controlName;
    QWidget* control = nullptr;  // not owned
    const QFont* font;           // not owned
    QRect hitRect;
    QRect clientRect;
    bool hot = false;
};

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(ShellService* shell, QWidget* parent = nullptr);
    ~CAboutDlg() override;

    int RunModal();
    void OnInitDialog();
    void OnCancel();
    void OnMouseMove(const QPoint& point);
    void OnLButtonUp(const QPoint& point);

    // The links in the order 1011, 1012, 1013 (empty before OnInitDialog and
    // after OnCancel).
    CHyperLink* Link(int i) const;
    QPushButton* OkButton() const { return okButton; }
    // Whether the box has set the hand cursor; kept from one opening of the
    // box to the next, like the cursor itself.
    static bool HandCursorShown() { return handCursorShown; }

  public slots:
    void reject() override;

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    ShellService* shell;
    QPushButton* okButton = nullptr;
    std::unique_ptr<QFont> linkFont;
    std::array<std::unique_ptr<CHyperLink>, 3> links;
    static bool handCursorShown;
};

}  // namespace crateforge
