#include "ForeignError.h"

#include <cstring>

ForeignError::ForeignError(QString domain, long long code, QString description)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
    , m_what((m_domain + QLatin1Char(' ') + QString::number(m_code) + QStringLiteral(": ") + m_description).toUtf8())
{
}

ForeignError ForeignError::posix(int errorNumber)
{
    return ForeignError(kPosixDomain, errorNumber, QString::fromLocal8Bit(std::strerror(errorNumber)));
}
