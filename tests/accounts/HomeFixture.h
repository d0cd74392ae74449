#pragma once

#include "platform/ProcessEnvironment.h"
#include "support/TestSupport.h"
#include "usage/ProviderProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// A temporary home folder built from a table of entries:
//   "d:.codex"               a folder
//   "f:.codex/auth.json"     a file (parents created)
//   "l:.codex-2=>real/codex" a symbolic link to a path ("{home}" and "{root}" expand)
// Paths are relative to the home folder, or to the temporary root with "{root}/".
// The root holds the home folder and room for folders outside it.
class HomeFixture {
public:
    HomeFixture()
    {
        QDir(m_root.path()).mkpath(QStringLiteral("home"));
        m_rootPath = QFileInfo(m_root.path()).canonicalFilePath();
        m_home = m_rootPath + QStringLiteral("/home");
    }

    const QString& home() const { return m_home; }
    const QString& root() const { return m_rootPath; }

    QString expand(QString text) const
    {
        text.replace(QStringLiteral("{home}"), m_home);
        text.replace(QStringLiteral("{root}"), m_rootPath);
        return text;
    }
    QString path(const QString& relative) const
    {
        const QString expanded = expand(relative);
        return expanded.startsWith(QLatin1Char('/')) ? expanded : m_home + QLatin1Char('/') + expanded;
    }

    bool build(const QStringList& entries) const
    {
        for (const QString& entry : entries) {
            const QString kind = entry.left(2);
            const QString rest = entry.mid(2);
            if (kind == QLatin1String("d:")) {
                if (!QDir().mkpath(path(rest)))
                    return false;
            } else if (kind == QLatin1String("f:")) {
                if (!testsupport::writeFile(path(rest), "{}"))
                    return false;
            } else if (kind == QLatin1String("l:")) {
                const qsizetype arrow = rest.indexOf(QLatin1String("=>"));
                const QString link = path(rest.left(arrow));
                const QString target = path(rest.mid(arrow + 2));
                QDir().mkpath(QFileInfo(link).path());
                if (!QFile::link(target, link))
                    return false;
            } else {
                return false;
            }
        }
        return true;
    }

    ProcessEnvironment environment(const QStringList& assignments) const
    {
        ProcessEnvironment env;
        for (const QString& assignment : assignments) {
            const qsizetype eq = assignment.indexOf(QLatin1Char('='));
            env.insert(assignment.left(eq), expand(assignment.mid(eq + 1)));
        }
        return env;
    }

    // A path with the home folder and the root written "{home}" and "{root}".
    QString shorten(QString path) const
    {
        path.replace(m_home, QStringLiteral("{home}"));
        path.replace(m_rootPath, QStringLiteral("{root}"));
        return path;
    }

    // "codex|{home}/.codex|По умолчанию" (with "|visible" when shown).
    QString describe(const ProviderProfile& profile) const
    {
        QString line = rawValue(profile.provider) + QLatin1Char('|') + shorten(profile.configDirectory)
            + QLatin1Char('|') + profile.name;
        if (profile.isVisible)
            line += QStringLiteral("|visible");
        return line;
    }
    QStringList describe(const QList<ProviderProfile>& profiles) const
    {
        QStringList lines;
        for (const ProviderProfile& profile : profiles)
            lines.append(describe(profile));
        return lines;
    }

private:
    QTemporaryDir m_root;
    QString m_rootPath;
    QString m_home;
};
