#include "widgets/combo_box_accessible.hpp"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>

namespace quotalume {
namespace {

class LabelledComboAccessible final : public QAccessibleWidget {
public:
    explicit LabelledComboAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    int childCount() const override { return combo()->isEditable() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override {
        if (index == 0) {
            return QAccessible::queryAccessibleInterface(combo()->view());
        }
        if (index == 1 && combo()->isEditable()) {
            return QAccessible::queryAccessibleInterface(combo()->lineEdit());
        }
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child->object() == combo()->view()) {
            return 0;
        }
        return combo()->isEditable() && child->object() == combo()->lineEdit() ? 1 : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QLineEdit* edit = combo()->isEditable() ? combo()->lineEdit() : nullptr;
        if (edit != nullptr && edit->rect().contains(edit->mapFromGlobal(QPoint(x, y)))) {
            return child(1);
        }
        return nullptr;
    }

    QString text(QAccessible::Text kind) const override {
        const QString value =
            combo()->isEditable() ? combo()->lineEdit()->text() : combo()->currentText();
        switch (kind) {
            case QAccessible::Name: {
                // An unlabelled box keeps Qt's name rather than none.
                const QString label = QAccessibleWidget::text(kind);
                return label.isEmpty() ? value : label;
            }
            case QAccessible::Value:
                return value;
            case QAccessible::Accelerator:
                return QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
            default:
                return QAccessibleWidget::text(kind);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = combo()->view()->isVisible();
        state.editable = combo()->isEditable();
        return state;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }

    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction()) {
            return;
        }
        if (combo()->view()->isVisible()) {
            combo()->hidePopup();
        } else {
            combo()->showPopup();
        }
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* labelledComboAccessible(const QString& className, QObject* object) {
    auto* combo = qobject_cast<QComboBox*>(object);
    return combo != nullptr && className == QLatin1String("QComboBox")
               ? new LabelledComboAccessible(combo)
               : nullptr;
}

}  // namespace

void installComboBoxAccessible() {
    static const bool installed = (QAccessible::installFactory(labelledComboAccessible), true);
    (void)installed;
}

}  // namespace quotalume
