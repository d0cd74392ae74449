#include "KeyedWidgetList.h"

#include <QBoxLayout>
#include <QSet>

KeyedWidgetList::KeyedWidgetList(QBoxLayout& layout, int firstIndex) : m_layout(layout), m_firstIndex(firstIndex) {}

int KeyedWidgetList::reconcile(const QStringList& keys, const Make& make, const Update& update)
{
    const QSet<QString> wanted(keys.begin(), keys.end());
    for (auto it = m_widgets.begin(); it != m_widgets.end();) {
        if (wanted.contains(it.key()) && it.value()) {
            ++it;
            continue;
        }
        if (QWidget* gone = it.value()) {
            m_layout.removeWidget(gone);
            delete gone;
        }
        it = m_widgets.erase(it);
    }

    int built = 0;
    m_keys.clear();
    QSet<QString> placed;
    for (int i = 0; i < int(keys.size()); ++i) {
        const QString& key = keys.at(i);
        if (placed.contains(key))
            continue; // a repeated key keeps its first place
        placed.insert(key);
        QPointer<QWidget>& slot = m_widgets[key];
        if (!slot) {
            slot = make(i);
            ++built;
        }
        QWidget* widget = slot;
        const int place = m_firstIndex + int(m_keys.size());
        QLayoutItem* item = m_layout.itemAt(place);
        if (!item || item->widget() != widget) {
            m_layout.removeWidget(widget);
            m_layout.insertWidget(place, widget);
        }
        m_keys << key;
        update(widget, i);
    }
    return built;
}
