// What assistive technologies (a screen reader through AT-SPI) see of the
// transport bar: a tool bar of push buttons, each named after its glyph,
// enabled or not as drawn, and pressable as a click presses it.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QVector>

#include <utility>

#include "TransportBar.h"

namespace {

class ButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    ButtonAccessible(TransportBar* bar, int button) : bar_(bar), button_(button) {}

    bool isValid() const override { return !bar_.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? TransportBar::ButtonName(button_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!bar_)
            return {};
        const QRect r = bar_->ButtonRect(button_);
        return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!bar_)
            return s;
        s.disabled = !bar_->ButtonEnabled(button_);
        s.focusable = true;
        s.focused = bar_->hasFocus() && bar_->MarkedButton() == button_;
        s.invisible = !bar_->isVisible();
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        return bar_ && bar_->ButtonEnabled(button_) ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& action) override
    {
        if (bar_ && action == pressAction())
            bar_->Press(button_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<TransportBar> bar_;
    int button_;
};

class BarAccessible : public QAccessibleWidget {
public:
    explicit BarAccessible(TransportBar* bar) : QAccessibleWidget(bar, QAccessible::ToolBar) {}
    ~BarAccessible() override
    {
        for (QAccessible::Id id : std::as_const(children_))
            if (id)
                QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return TransportModel::ButtonCount; }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= TransportModel::ButtonCount)
            return nullptr;
        if (children_.isEmpty())
            children_.resize(TransportModel::ButtonCount);
        if (!children_[index]) {
            auto* button = new ButtonAccessible(Bar(), index);
            children_[index] = QAccessible::registerAccessibleInterface(button);
        }
        return QAccessible::accessibleInterface(children_[index]);
    }
    int indexOfChild(const QAccessibleInterface* c) const override
    {
        for (int i = 0; i < TransportModel::ButtonCount; ++i)
            if (child(i) == c)
                return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const int i = Bar()->ButtonAt(Bar()->mapFromGlobal(QPoint(x, y)));
        return i >= 0 ? child(i) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        return Bar()->hasFocus() ? child(Bar()->MarkedButton()) : nullptr;
    }

private:
    TransportBar* Bar() const { return static_cast<TransportBar*>(widget()); }
    mutable QVector<QAccessible::Id> children_;
};

QAccessibleInterface* Factory(const QString&, QObject* object)
{
    auto* bar = dynamic_cast<TransportBar*>(object);
    return bar ? new BarAccessible(bar) : nullptr;
}

} // namespace

void TransportBar::InstallAccessibility()
{
    static const bool installed = (QAccessible::installFactory(&Factory), true);
    (void)installed;
}

void TransportBar::AnnounceButtonStates(unsigned changed)
{
    if (!changed || !QAccessible::isActive())
        return;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(this);
    if (!iface)
        return;
    QAccessible::State disabled;
    disabled.disabled = true;
    for (int i = 0; i < TransportModel::ButtonCount; ++i) {
        if (!(changed & (1u << i)))
            continue;
        QAccessibleStateChangeEvent event(iface->child(i), disabled);
        QAccessible::updateAccessibility(&event);
    }
}

void TransportBar::AnnounceMarkedButton()
{
    if (!QAccessible::isActive() || !hasFocus())
        return;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(this);
    if (!iface)
        return;
    QAccessibleEvent event(iface->child(marked_), QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}
