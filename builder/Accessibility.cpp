// Accessibility.cpp - the window and link descriptions of Accessibility.h.
#include "builder/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace crateforge {

namespace {

const char kRoleProperty[] = "crateforgeAccessibleRole";
constexpr int kWindowRole = 1;
constexpr int kLinkRole = 2;

class LinkAccessible : public QAccessibleWidget {
  public:
    explicit LinkAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Link) {}

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        // The link opens on Enter; a press is that key.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(widget(), &press);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == pressAction()) {
            return {QStringLiteral("Return"), QStringLiteral("Space")};
        }
        return QAccessibleWidget::keyBindingsForAction(name);
    }
};

QAccessibleInterface* Describe(const QString& /*className*/, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    switch (widget->property(kRoleProperty).toInt()) {
        case kWindowRole:
            return new QAccessibleWidget(widget, QAccessible::Window);
        case kLinkRole:
            return new LinkAccessible(widget);
        default:
            return nullptr;
    }
}

}  // namespace

void InstallAccessibility() {
    static const bool installed = (QAccessible::installFactory(Describe), true);
    (void)installed;
}

void MarkAsWindow(QWidget* widget) {
    InstallAccessibility();
    widget->setProperty(kRoleProperty, kWindowRole);
}

void MarkAsLink(QWidget* widget) {
    InstallAccessibility();
    widget->setProperty(kRoleProperty, kLinkRole);
}

}  // namespace crateforge
