#pragma once

#include <QObject>

// The panel's presentation: the thin strip against the screen edge, the column
// of limit rings shown while the pointer rests on it, or the account cards
// opened with its toggle.
enum class EdgePanelMode { strip, rings, cards };

// The presentation of one panel: written by its controller, read by its root
// view, which redraws when `modeChanged` fires. Main thread only.
class EdgePanelState final : public QObject {
    Q_OBJECT
    Q_PROPERTY(EdgePanelMode mode READ mode NOTIFY modeChanged)
public:
    explicit EdgePanelState(QObject* parent = nullptr);

    EdgePanelMode mode() const { return m_mode; }
    // True when the latest change is to be animated with the panel's spring
    // (the view reads it while handling `modeChanged`).
    bool changeAnimated() const { return m_changeAnimated; }

    // Stores `mode`; an equal value changes nothing and notifies no one.
    void setMode(EdgePanelMode mode, bool animated = false);

signals:
    void modeChanged(EdgePanelMode mode);

private:
    EdgePanelMode m_mode = EdgePanelMode::strip;
    bool m_changeAnimated = false;
};
