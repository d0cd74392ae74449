#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QBoxLayout;

// The children of a box layout kept by key (a profile id): reconciling against
// a new ordered key list builds only the widgets of new keys, deletes those of
// keys that went, moves the rest into the new order and updates every widget
// in place, so what a widget holds (an open disclosure, a selection, a scroll
// position) survives.
class KeyedWidgetList {
public:
    // The widgets take the layout's places from `firstIndex` on.
    explicit KeyedWidgetList(QBoxLayout& layout, int firstIndex = 0);

    using Make = std::function<QWidget*(int index)>;
    using Update = std::function<void(QWidget* widget, int index)>;

    // `make` builds the widget of keys[index] (not yet updated); `update` then
    // runs for every widget, new or kept, with its index in `keys`. A repeated
    // key keeps its first place. Returns how many widgets were built.
    int reconcile(const QStringList& keys, const Make& make, const Update& update);

    QWidget* widget(const QString& key) const { return m_widgets.value(key); }
    const QStringList& keys() const { return m_keys; }
    int count() const { return int(m_keys.size()); }

private:
    QBoxLayout& m_layout;
    const int m_firstIndex;
    QStringList m_keys;
    QHash<QString, QPointer<QWidget>> m_widgets;
};
