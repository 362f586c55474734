#include "ui/widgets/accessibility.h"

#include "ui/widgets/plain_label.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace tn::ui {

namespace {

// A label of ours: the name says what the value is, the value and the text are what is shown.
class ValueLabelAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ValueLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name: {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? shown() : name;
        }
        case QAccessible::Value:
            return shown();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    // Read-only text: no selection, no cursor.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override {
        const QString s = shown();
        start = std::clamp(start, 0, static_cast<int>(s.size()));
        end = end < 0 ? static_cast<int>(s.size())
                      : std::clamp(end, start, static_cast<int>(s.size()));
        return s.mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(shown().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

private:
    QString shown() const { return static_cast<const QLabel*>(widget())->text(); }
};

// A combo box named by what it chooses; its entry is the value, its list and edit its children.
class NamedComboAccessible final : public QAccessibleWidget {
public:
    explicit NamedComboAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name: {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? combo()->currentText() : name;
        }
        case QAccessible::Value:
            return combo()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    int childCount() const override {
        return (combo()->view() ? 1 : 0) + (combo()->lineEdit() ? 1 : 0);
    }
    QAccessibleInterface* child(int index) const override {
        const int views = combo()->view() ? 1 : 0;
        if (index == 0 && views)
            return QAccessible::queryAccessibleInterface(combo()->view());
        if (index == views && combo()->lineEdit())
            return QAccessible::queryAccessibleInterface(combo()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* c) const override {
        for (int i = 0; i < childCount(); ++i)
            if (child(i) == c)
                return i;
        return -1;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction())
            combo()->showPopup();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("QComboBox"))
        return new NamedComboAccessible(static_cast<QComboBox*>(object));
    if (className == QLatin1String(CPlainLabel::staticMetaObject.className()))
        return new ValueLabelAccessible(static_cast<QLabel*>(object));
    return nullptr;
}

} // namespace

void installAccessibility() {
    QAccessible::installFactory(factory); // Qt keeps one entry per factory
}

void setShownText(QLabel* label, const QString& text) {
    if (!label || label->text() == text)
        return;
    const QString old = label->text();
    label->setText(text);
    if (!QAccessible::isActive())
        return;
    QAccessibleTextUpdateEvent changed(label, 0, old, text);
    QAccessible::updateAccessibility(&changed);
    QAccessibleValueChangeEvent value(label, text);
    QAccessible::updateAccessibility(&value);
}

} // namespace tn::ui
