#pragma once

#include <QString>
#include <exception>

// An error that is not ours: a domain, an integer code and a description,
// e.g. {"NSPOSIXErrorDomain", 32, "Broken pipe"}.
class ForeignError : public std::exception {
public:
    ForeignError(QString domain, long long code, QString description);

    const QString& domain() const { return m_domain; }
    long long code() const { return m_code; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

    // The POSIX error `errorNumber` with the system's text for it.
    static ForeignError posix(int errorNumber);
    static inline const QString kPosixDomain = QStringLiteral("NSPOSIXErrorDomain");
    static inline const QString kCocoaDomain = QStringLiteral("NSCocoaErrorDomain");

private:
    QString m_domain;
    long long m_code;
    QString m_description;
    QByteArray m_what;
};
