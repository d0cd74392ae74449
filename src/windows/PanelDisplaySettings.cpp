#include "PanelDisplaySettings.h"

#include "ScreenParameters.h"
#include "platform/Defaults.h"
#include "platform/MainThread.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QUuid>
#include <QtEndian>

QString rawValue(AppTheme theme)
{
    switch (theme) {
    case AppTheme::system: return QStringLiteral("system");
    case AppTheme::light: return QStringLiteral("light");
    case AppTheme::dark: return QStringLiteral("dark");
    }
    return QStringLiteral("system");
}

std::optional<AppTheme> appThemeFromRawValue(const QString& raw)
{
    for (AppTheme theme : kAllAppThemes)
        if (rawValue(theme) == raw)
            return theme;
    return std::nullopt;
}

Appearance::Forced forcedAppearance(AppTheme theme)
{
    switch (theme) {
    case AppTheme::light: return Appearance::Forced::Light;
    case AppTheme::dark: return Appearance::Forced::Dark;
    case AppTheme::system: break;
    }
    return Appearance::Forced::None;
}

namespace {

// Namespace of the display UUIDs (version 5, so one screen always gets the same one).
const QUuid kDisplayNamespace(QStringLiteral("{5d0c2a8e-4f7b-4c1e-9a36-0b8f1e2d7c41}"));

// Qt's screens, the primary one first.
QList<QScreen*> orderedScreens()
{
    QList<QScreen*> screens = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        screens.removeAll(primary);
        screens.prepend(primary);
    }
    return screens;
}

QString connectorKey(const ScreenFacts& facts)
{
    return QString::number(facts.desktop) + QLatin1Char(':') + facts.connector;
}

} // namespace

QString displayIdentifier(const ScreenFacts& facts)
{
    const QString manufacturer = facts.manufacturer.trimmed();
    const QString model = facts.model.trimmed();
    const QString serial = facts.serialNumber.trimmed();
    if (!serial.isEmpty() || !manufacturer.isEmpty() || !model.isEmpty()) {
        const QString last = serial.isEmpty() ? QStringLiteral("connector ") + connectorKey(facts)
                                              : QStringLiteral("serial ") + serial;
        const QString text = manufacturer + QChar(u'\0') + model + QChar(u'\0') + last;
        const QUuid uuid = QUuid::createUuidV5(kDisplayNamespace, text.toUtf8());
        return QStringLiteral("display:") + uuid.toString(QUuid::WithoutBraces).toUpper();
    }
    if (facts.connector.isEmpty())
        return QStringLiteral("display-id:") + QString::number(facts.position);
    const QByteArray digest = QCryptographicHash::hash(connectorKey(facts).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("display-id:") + QString::number(qFromBigEndian<quint32>(digest.constData()));
}

QString displayName(const ScreenFacts& facts)
{
    QStringList parts;
    for (const QString& part : {facts.manufacturer.trimmed(), facts.model.trimmed()})
        if (!part.isEmpty())
            parts << part;
    return parts.isEmpty() ? facts.connector : parts.join(QLatin1Char(' '));
}

PanelDisplaySettings::PanelDisplaySettings(Defaults& defaults, ScreenProvider screenProvider,
                                           AppearanceApplier applyAppearance, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_screenProvider(screenProvider ? std::move(screenProvider) : ScreenProvider(&PanelDisplaySettings::currentScreens))
    , m_applyAppearance(applyAppearance ? std::move(applyAppearance)
                                        : AppearanceApplier([](Appearance::Forced forced) {
                                              Appearance::shared().setForced(forced);
                                          }))
{
    ASSERT_MAIN_THREAD();
    m_selection = m_defaults.string(kSelectionKey).value_or(kPrimary);
    m_savedDisplayName = m_defaults.string(kDisplayNameKey);
    m_theme = appThemeFromRawValue(m_defaults.string(kThemeKey).value_or(QString())).value_or(AppTheme::system);
    applyTheme();
    refreshDisplays();
    connect(&ScreenParameters::shared(), &ScreenParameters::changed, this,
            &PanelDisplaySettings::screenParametersChanged);
}

PanelDisplaySettings::~PanelDisplaySettings() = default;

void PanelDisplaySettings::assignSelection(const QString& selection)
{
    ASSERT_MAIN_THREAD();
    if (selection == m_selection)
        return;
    m_selection = selection;
    emit selectionChanged();
}

void PanelDisplaySettings::assignConnectedDisplays(const QList<PanelDisplay>& displays)
{
    ASSERT_MAIN_THREAD();
    if (displays == m_connectedDisplays)
        return;
    m_connectedDisplays = displays;
    emit connectedDisplaysChanged();
}

void PanelDisplaySettings::assignTheme(AppTheme theme)
{
    ASSERT_MAIN_THREAD();
    if (theme == m_theme)
        return;
    m_theme = theme;
    emit themeChanged();
}

void PanelDisplaySettings::setSavedDisplayName(const std::optional<QString>& name)
{
    if (name == m_savedDisplayName)
        return;
    m_savedDisplayName = name;
    emit savedDisplayNameChanged();
}

QList<PanelDisplay> PanelDisplaySettings::targetDisplays() const
{
    ASSERT_MAIN_THREAD();
    if (m_selection == kAll)
        return m_connectedDisplays;
    for (const PanelDisplay& display : m_connectedDisplays)
        if (display.id == m_selection)
            return {display};
    if (m_connectedDisplays.isEmpty())
        return {};
    return {m_connectedDisplays.first()};
}

std::optional<QString> PanelDisplaySettings::unavailableSelectionName() const
{
    ASSERT_MAIN_THREAD();
    if (m_selection == kAll || m_selection == kPrimary)
        return std::nullopt;
    for (const PanelDisplay& display : m_connectedDisplays)
        if (display.id == m_selection)
            return std::nullopt;
    return m_savedDisplayName.value_or(kUnavailableName);
}

void PanelDisplaySettings::selectDisplay(const QString& choice)
{
    ASSERT_MAIN_THREAD();
    std::optional<QString> name;
    if (choice != kAll && choice != kPrimary) {
        for (const PanelDisplay& display : m_connectedDisplays)
            if (display.id == choice) {
                name = display.name;
                break;
            }
        if (!name)
            return;
    }
    assignSelection(choice);
    m_defaults.setString(kSelectionKey, choice);
    setSavedDisplayName(name);
    if (name)
        m_defaults.setString(kDisplayNameKey, *name);
    else
        m_defaults.remove(kDisplayNameKey);
}

void PanelDisplaySettings::setTheme(AppTheme theme)
{
    ASSERT_MAIN_THREAD();
    assignTheme(theme);
    m_defaults.setString(kThemeKey, rawValue(theme));
    applyTheme();
}

void PanelDisplaySettings::applyTheme()
{
    m_applyAppearance(forcedAppearance(m_theme));
}

void PanelDisplaySettings::refreshDisplays()
{
    ASSERT_MAIN_THREAD();
    QList<PanelDisplay> displays;
    QSet<QString> seen;
    for (const PanelDisplay& display : m_screenProvider()) {
        if (seen.contains(display.id))
            continue;
        seen.insert(display.id);
        displays << display;
    }
    assignConnectedDisplays(displays);
    for (const PanelDisplay& display : m_connectedDisplays) {
        if (display.id != m_selection)
            continue;
        if (m_savedDisplayName != display.name) {
            setSavedDisplayName(display.name);
            m_defaults.setString(kDisplayNameKey, display.name);
        }
        break;
    }
}

void PanelDisplaySettings::screenParametersChanged()
{
    refreshDisplays();
}

QList<ScreenFacts> PanelDisplaySettings::currentScreenFacts()
{
    ASSERT_MAIN_THREAD();
    QList<ScreenFacts> result;
    QList<QScreen*> desktopLeaders; // first screen of each group of virtual siblings
    const QList<QScreen*> screens = orderedScreens();
    for (int i = 0; i < screens.size(); ++i) {
        QScreen* screen = screens.at(i);
        int desktop = -1;
        const QList<QScreen*> siblings = screen->virtualSiblings();
        for (int d = 0; d < desktopLeaders.size(); ++d)
            if (siblings.contains(desktopLeaders.at(d))) {
                desktop = d;
                break;
            }
        if (desktop < 0) {
            desktop = int(desktopLeaders.size());
            desktopLeaders << screen;
        }
        result << ScreenFacts {screen->manufacturer(), screen->model(), screen->serialNumber(), screen->name(),
                               desktop, i};
    }
    return result;
}

QList<PanelDisplay> PanelDisplaySettings::currentScreens()
{
    const QList<QScreen*> screens = orderedScreens();
    const QList<ScreenFacts> facts = currentScreenFacts();
    QList<PanelDisplay> result;
    for (int i = 0; i < screens.size(); ++i)
        result << PanelDisplay {displayIdentifier(facts.at(i)), displayName(facts.at(i)),
                                screens.at(i)->availableGeometry()};
    return result;
}

QScreen* PanelDisplaySettings::screenWithId(const QString& id)
{
    const QList<QScreen*> screens = orderedScreens();
    const QList<ScreenFacts> facts = currentScreenFacts();
    for (int i = 0; i < screens.size(); ++i)
        if (displayIdentifier(facts.at(i)) == id)
            return screens.at(i);
    return nullptr;
}
