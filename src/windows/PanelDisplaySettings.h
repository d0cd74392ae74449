#pragma once

#include "panel/Appearance.h"

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class Defaults;
class QScreen;

// One connected screen.
struct PanelDisplay {
    QString id;          // stable identifier (see displayIdentifier)
    QString name;        // what a person calls it: "manufacturer model"
    QRect visibleFrame;  // available area in global coordinates
    bool operator==(const PanelDisplay&) const = default;
};

// The colour theme of the application.
enum class AppTheme { system, light, dark };

inline constexpr std::array<AppTheme, 3> kAllAppThemes {AppTheme::system, AppTheme::light, AppTheme::dark};

QString rawValue(AppTheme theme); // "system", "light", "dark"
std::optional<AppTheme> appThemeFromRawValue(const QString& raw);
// The forced scheme a theme sets: none for system.
Appearance::Forced forcedAppearance(AppTheme theme);

// What a screen tells about itself, as far as its identity goes.
struct ScreenFacts {
    QString manufacturer;
    QString model;
    QString serialNumber;
    QString connector;   // what Qt calls the screen's name, such as "DP-1"
    int desktop = 0;     // which X screen (group of virtual siblings) it belongs to, in list order
    int position = 0;    // its place in the screen list
};

// "display:" and a UUID made from manufacturer, model and serial number; without
// a serial number the connector (and its X screen) takes the serial number's
// place, so two identical monitors stay apart; "display-id:" and a number made
// from the connector when the screen reports neither manufacturer, model nor
// serial number, its place in the list when it has no connector name either.
QString displayIdentifier(const ScreenFacts& facts);
// "manufacturer model"; the connector name when both are unknown.
QString displayName(const ScreenFacts& facts);

// Which screens carry the edge panel ("primary", "all" or one screen) and the
// colour theme, kept in the user defaults; follows screen changes. Main thread only.
class PanelDisplaySettings final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString selection READ selection NOTIFY selectionChanged)
    Q_PROPERTY(QList<PanelDisplay> connectedDisplays READ connectedDisplays NOTIFY connectedDisplaysChanged)
    Q_PROPERTY(AppTheme theme READ theme NOTIFY themeChanged)
    Q_PROPERTY(std::optional<QString> savedDisplayName READ savedDisplayName NOTIFY savedDisplayNameChanged)
public:
    using ScreenProvider = std::function<QList<PanelDisplay>()>;
    using AppearanceApplier = std::function<void(Appearance::Forced)>;

    static inline const QString kSelectionKey = QStringLiteral("panelDisplaySelection.v1");
    static inline const QString kDisplayNameKey = QStringLiteral("panelDisplayName.v1");
    static inline const QString kThemeKey = QStringLiteral("panelTheme.v1");
    static inline const QString kPrimary = QStringLiteral("primary");
    static inline const QString kAll = QStringLiteral("all");
    static inline const QString kUnavailableName = QStringLiteral("Выбранный монитор");

    // Reads the stored choice and theme, applies the theme, lists the screens and
    // follows their changes. Empty functions take the defaults: currentScreens,
    // and Appearance::shared().setForced. `defaults` must outlive the object.
    explicit PanelDisplaySettings(Defaults& defaults, ScreenProvider screenProvider = {},
                                  AppearanceApplier applyAppearance = {}, QObject* parent = nullptr);
    ~PanelDisplaySettings() override;

    const QString& selection() const { return m_selection; }
    const QList<PanelDisplay>& connectedDisplays() const { return m_connectedDisplays; }
    AppTheme theme() const { return m_theme; }
    const std::optional<QString>& savedDisplayName() const { return m_savedDisplayName; }

    // Plain setters of the fields alone: nothing stored, no theme applied.
    void assignSelection(const QString& selection);
    void assignConnectedDisplays(const QList<PanelDisplay>& displays);
    void assignTheme(AppTheme theme);

    // The screens the panel appears on: every screen for "all", else the chosen
    // screen when connected, else the first screen; none without screens.
    QList<PanelDisplay> targetDisplays() const;
    // The choice as the settings picker shows it.
    const QString& effectiveSelection() const { return m_selection; }
    // The name to show for a chosen screen that is not connected.
    std::optional<QString> unavailableSelectionName() const;

    // Takes "all", "primary" or a connected screen's id; ignores anything else.
    void selectDisplay(const QString& choice);
    // Stores the theme and applies it.
    void setTheme(AppTheme theme);
    // Lists the screens again.
    void refreshDisplays();
    // Observer of ScreenParameters::changed.
    void screenParametersChanged();

    // Every screen Qt lists, primary first.
    static QList<PanelDisplay> currentScreens();
    // The facts of every screen Qt lists, primary first.
    static QList<ScreenFacts> currentScreenFacts();
    // The screen whose identifier is `id`; none when it is not connected.
    static QScreen* screenWithId(const QString& id);

signals:
    void selectionChanged();
    void connectedDisplaysChanged();
    void themeChanged();
    void savedDisplayNameChanged();

private:
    void setSavedDisplayName(const std::optional<QString>& name);
    void applyTheme();

    Defaults& m_defaults;
    ScreenProvider m_screenProvider;
    AppearanceApplier m_applyAppearance;
    QString m_selection;
    QList<PanelDisplay> m_connectedDisplays;
    AppTheme m_theme = AppTheme::system;
    std::optional<QString> m_savedDisplayName;
};
