#pragma once

#include <QObject>

class DesktopColorScheme;

// Answers whether the panel draws light or dark, and announces each change so
// every open window repaints. A forced scheme (the theme setting when it is not
// "system") wins; else the desktop's colour scheme; else the lightness of the
// application palette. Colours resolve at paint time from this answer.
class Appearance final : public QObject {
    Q_OBJECT
public:
    enum class Forced { None, Light, Dark };

    // The application's appearance; created on first use on the main thread.
    static Appearance& shared();

    explicit Appearance(bool followDesktop, QObject* parent = nullptr);
    ~Appearance() override;

    bool isDark() const { return m_dark; }

    Forced forced() const { return m_forced; }
    void setForced(Forced forced);

signals:
    // Emitted only when the answer flips.
    void changed(bool dark);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reevaluate();
    bool computeDark() const;

    DesktopColorScheme* m_desktop = nullptr;
    Forced m_forced = Forced::None;
    bool m_dark = false;
};
