// Pick-only drop-down lists; see picklist.h.
#include "editor/picklist.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>

#include <algorithm>

namespace {

class PickOnly final : public QObject {
public:
    PickOnly(QComboBox *combo) : QObject(combo), m_combo(combo) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress: {
            const auto *key = static_cast<QKeyEvent *>(event);
            const QString text = key->text();
            if (watched == m_combo && key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier)
                return false; // opens the list; it selects nothing
            return !text.isEmpty() && std::any_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
        }
        case QEvent::InputMethod:
            // Both the box and its list search by committed text.
            return !static_cast<QInputMethodEvent *>(event)->commitString().isEmpty();
        default:
            return false;
        }
    }

private:
    QComboBox *m_combo;
};

} // namespace

void MakePickOnly(QComboBox *combo)
{
    auto *filter = new PickOnly(combo);
    combo->installEventFilter(filter);
    // Installed after the list's own container filter, so it sees the keys first.
    combo->view()->installEventFilter(filter);
}
