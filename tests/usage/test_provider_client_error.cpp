#include "platform/CancelToken.h"
#include "platform/ForeignError.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/ProviderClientError.h"

#include <QTest>
#include <limits>
#include <stdexcept>

using Err = ProviderClientError;
using ErrorMaker = std::function<Err()>;
using Thrower = std::function<void()>;
Q_DECLARE_METATYPE(ErrorMaker)
Q_DECLARE_METATYPE(Thrower)
Q_DECLARE_METATYPE(std::optional<double>)

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::optional<double> none;

std::exception_ptr capture(const Thrower& thrower)
{
    try {
        thrower();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

} // namespace

class TestProviderClientError : public QObject {
    Q_OBJECT

private slots:
    void codesAndDescriptions_data()
    {
        QTest::addColumn<ErrorMaker>("make");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("description");
        const QString secret = QStringLiteral("токен ghp_abcDEF123 здесь");
        QTest::newRow("executableMissing") << ErrorMaker([] { return Err::executableMissing("Нет программы"); }) << "CLI_NOT_FOUND" << "Нет программы";
        QTest::newRow("credentialsMissing") << ErrorMaker([] { return Err::credentialsMissing("a"); }) << "CREDENTIALS_MISSING" << "a";
        QTest::newRow("sessionExpired") << ErrorMaker([] { return Err::sessionExpired("b"); }) << "AUTH_EXPIRED" << "b";
        QTest::newRow("invalidResponse") << ErrorMaker([] { return Err::invalidResponse("c"); }) << "INVALID_RESPONSE" << "c";
        // The six message cases are shown exactly as written, secrets included.
        QTest::newRow("requestFailed unchanged") << ErrorMaker([secret] { return Err::requestFailed(secret); }) << "REQUEST_FAILED" << secret;
        QTest::newRow("timedOut") << ErrorMaker([] { return Err::timedOut("d"); }) << "TIMEOUT" << "d";
        QTest::newRow("diagnostic redacted") << ErrorMaker([secret] { return Err::diagnostic("JSON_RPC_-32000", secret, true); })
                                             << "JSON_RPC_-32000" << "токен [redacted] здесь";
    }
    void codesAndDescriptions()
    {
        QFETCH(ErrorMaker, make);
        QFETCH(QString, code);
        QFETCH(QString, description);
        const Err e = make();
        QCOMPARE(e.errorCode(), code);
        QCOMPARE(e.errorDescription(), description);
        QCOMPARE(QString::fromUtf8(e.what()), description);
    }

    void retryDelay_data()
    {
        QTest::addColumn<ErrorMaker>("make");
        QTest::addColumn<int>("failures");
        QTest::addColumn<std::optional<double>>("expected");
        const ErrorMaker failed = [] { return Err::requestFailed("x"); };
        const ErrorMaker timedOut = [] { return Err::timedOut("x"); };
        const std::pair<int, double> table[] = {{std::numeric_limits<int>::min(), 5}, {-1, 5}, {0, 5}, {1, 5}, {2, 15}, {3, 30}, {4, 60},
                                                {5, 120}, {6, 300}, {40, 300}, {std::numeric_limits<int>::max(), 300}};
        for (auto [n, delay] : table) {
            QTest::addRow("requestFailed %d", n) << failed << n << std::optional(delay);
            QTest::addRow("timedOut %d", n) << timedOut << n << std::optional(delay);
        }
        for (int n : {0, 1, 7}) {
            QTest::addRow("executableMissing %d", n) << ErrorMaker([] { return Err::executableMissing("x"); }) << n << none;
            QTest::addRow("invalidResponse %d", n) << ErrorMaker([] { return Err::invalidResponse("x"); }) << n << none;
            QTest::addRow("credentialsMissing %d", n) << ErrorMaker([] { return Err::credentialsMissing("x"); }) << n << std::optional(60.0);
            QTest::addRow("sessionExpired %d", n) << ErrorMaker([] { return Err::sessionExpired("x"); }) << n << std::optional(60.0);
        }
        auto diag = [](bool retryable, std::optional<double> after) {
            return ErrorMaker([=] { return Err::diagnostic("X", "m", retryable, after); });
        };
        QTest::newRow("diagnostic 0.2 s") << diag(true, 0.2) << 1 << std::optional(1.0);
        QTest::newRow("diagnostic 90 s") << diag(true, 90) << 1 << std::optional(90.0);
        QTest::newRow("diagnostic negative") << diag(true, -30) << 1 << std::optional(1.0);
        QTest::newRow("diagnostic NaN") << diag(true, kNaN) << 1 << std::optional(1.0);
        QTest::newRow("diagnostic infinite") << diag(true, kInf) << 1 << std::optional(Err::kMaximumRetryDelay);
        QTest::newRow("diagnostic enormous") << diag(true, 1e300) << 1 << std::optional(Err::kMaximumRetryDelay);
        QTest::newRow("diagnostic minus infinity") << diag(true, -kInf) << 1 << std::optional(1.0);
        QTest::newRow("diagnostic table") << diag(true, std::nullopt) << 3 << std::optional(30.0);
        QTest::newRow("not retryable") << diag(false, 90) << 1 << none;
        QTest::newRow("not retryable, no delay") << diag(false, std::nullopt) << 1 << none;
    }
    void retryDelay()
    {
        QFETCH(ErrorMaker, make);
        QFETCH(int, failures);
        QFETCH(std::optional<double>, expected);
        QCOMPARE(make().retryDelay(failures), expected);
    }

    void maximumDelayFitsATimer()
    {
        // QTimer takes milliseconds as int.
        QVERIFY(Err::kMaximumRetryDelay * 1000 < std::numeric_limits<int>::max());
        QVERIFY(Err::kMaximumRetryDelay >= 300);
    }

    void sanitized_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no secret") << "Сервер недоступен: 503, попробуйте позже." << "Сервер недоступен: 503, попробуйте позже.";
        QTest::newRow("bearer any case") << "auth bEaReR   abc.DEF-123 then" << "auth [redacted] then";
        QTest::newRow("bearer to quote") << "h='Bearer xyz'" << "h='[redacted]'";
        QTest::newRow("bearer after no-break space") << "Bearer\u00A0tok123 rest" << "[redacted] rest";
        QTest::newRow("bearer ends at ideographic space") << "Bearer tok\u3000rest" << "[redacted]\u3000rest";
        QTest::newRow("bearer without token") << "Bearer " << "Bearer ";
        QTest::newRow("json refresh_token") << R"({"refresh_token": "abc.def", "n": 1})" << R"({"[redacted]", "n": 1})";
        // A reply quoted into a JSON string, as error texts and stderr lines often are.
        QTest::newRow("escaped json pairs") << "{\"detail\":\"{\\\"access_token\\\":\\\"abc.123\\\",\\\"refresh_token\\\":\\\"rt_x\\\"}\"}"
                                            << "{\"detail\":\"{\\\"[redacted]\\\",\\\"[redacted]\\\"}\"}";
        QTest::newRow("escaped twice") << "\\\\\\\"apiKey\\\\\\\": \\\\\\\"v-1\\\\\\\"}" << "\\\\\\\"[redacted]\\\\\\\"}";
        QTest::newRow("escaped tab after bearer") << "{\"h\":\"Bearer\\tabc.def\"}" << "{\"h\":\"[redacted]\"}";
        QTest::newRow("escaped line breaks before tokens") << "out:\\nsk-abc1 \\r\\neyJhbG.x \\\\nghp_Ab1"
                                                           << "out:\\n[redacted] \\r\\n[redacted] \\\\n[redacted]";
        QTest::newRow("escaped tabs after a key") << "{\\\"id_token\\\":\\t\\t\\\"abc\\\"}" << "{\\\"[redacted]\\\"}";
        QTest::newRow("key=value") << "api_key=s3cr3t&x=1" << "[redacted]";
        QTest::newRow("apiKey with colon") << "apiKey: 'v-1', next" << "[redacted]', next";
        QTest::newRow("key case-insensitive") << "ACCESS_TOKEN=zzz" << "[redacted]";
        QTest::newRow("key stops at brace") << "{accessToken:abc}" << "{[redacted]}";
        QTest::newRow("jwt") << "token eyJhbGciOiJ.eyJzdWIi.sig-_x end" << "token [redacted] end";
        QTest::newRow("jwt inside a word") << "xeyJabc" << "xeyJabc";
        QTest::newRow("jwt after cyrillic") << "ключeyJabc" << "ключeyJabc";
        QTest::newRow("sk key") << "key sk-proj_ABC-123!" << "key [redacted]!";
        QTest::newRow("sk inside a word") << "task-runner disk-usage" << "task-runner disk-usage";
        QTest::newRow("sk after cyrillic letter") << "яsk-abc" << "яsk-abc";
        QTest::newRow("sk after cyrillic and blank") << "ключ sk-abc" << "ключ [redacted]";
        QTest::newRow("sk after accented letter") << "résk-abc" << "résk-abc";
        QTest::newRow("github tokens") << "ghp_A1 gho_b2 ghu_c ghs_d ghr_e github_pat_11_x ghx_no" << "[redacted] [redacted] [redacted] [redacted] [redacted] [redacted] ghx_no";
        QTest::newRow("github token in word") << "xghp_abc" << "xghp_abc";
        QTest::newRow("patterns chain") << "Authorization: Bearer sk-abc" << "Authorization: [redacted]";
        QTest::newRow("unpaired surrogate") << QString::fromUtf16(u"bad \xD800 sk-abc ghp_x") << QString::fromUtf16(u"bad \uFFFD [redacted] [redacted]");
        QTest::newRow("surrogate pair kept") << QString::fromUtf16(u"\U0001F600 sk-abc") << QString::fromUtf16(u"\U0001F600 [redacted]");
    }
    void sanitized()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(Err::sanitized(input), expected);
    }

    void sanitizedCutsGraphemes()
    {
        const QString longText(10000, QLatin1Char('a'));
        QCOMPARE(Err::sanitized(longText).size(), 8192);

        // An emoji with a skin-tone modifier (four UTF-16 units) as the 8192nd character stays whole.
        const QString emoji = QString::fromUtf16(u"\U0001F44D\U0001F3FD");
        const QString text = QString(8191, QLatin1Char('a')) + emoji + QStringLiteral("bbb");
        const QString cut = Err::sanitized(text);
        QVERIFY(cut.endsWith(emoji));
        QCOMPARE(text::graphemeCount(cut), 8192);

        // Combining marks count with their base.
        QString accented;
        for (int i = 0; i < 9000; ++i)
            accented += QString::fromUtf16(u"e\u0301");
        QCOMPARE(Err::sanitized(accented).size(), 2 * 8192);
    }

    void normaliser_data()
    {
        QTest::addColumn<Thrower>("thrower");
        QTest::addColumn<ErrorMaker>("expected");
        QTest::newRow("ours unchanged") << Thrower([] { throw Err::diagnostic("CODEX_AUTH", "Bearer x", false, 3.0); })
                                        << ErrorMaker([] { return Err::diagnostic("CODEX_AUTH", "Bearer x", false, 3.0); });
        QTest::newRow("ours timedOut") << Thrower([] { throw Err::timedOut("Истекло время"); })
                                       << ErrorMaker([] { return Err::timedOut("Истекло время"); });
        QTest::newRow("posix") << Thrower([] { throw ForeignError(ForeignError::kPosixDomain, 32, "Broken pipe sk-abc"); })
                               << ErrorMaker([] { return Err::diagnostic("NSPOSIXErrorDomain 32", "Broken pipe [redacted]", true); });
        QTest::newRow("decoder") << Thrower([] { throw json::DecodeError(json::DecodeError::Missing, "x"); })
                                 << ErrorMaker([] { return Err::diagnostic("NSCocoaErrorDomain 4865", "Не удалось прочитать данные, так как они отсутствуют.", true); });
        QTest::newRow("negative code") << Thrower([] { throw ForeignError("Domain", -1001, ""); })
                                       << ErrorMaker([] { return Err::diagnostic("Domain -1001", "", true); });
        QTest::newRow("cancellation") << Thrower([] { throw CancellationError(); })
                                      << ErrorMaker([] { return Err::diagnostic("Swift.CancellationError 1",
                                                                                "Не удалось завершить операцию. (Swift.CancellationError, ошибка 1.)", true); });
        QTest::newRow("std exception") << Thrower([] { throw std::runtime_error("boom ghp_123"); })
                                       << ErrorMaker([] { return Err::diagnostic("std::runtime_error 1", "boom [redacted]", true); });
        QTest::newRow("not an exception") << Thrower([] { throw 42; })
                                          << ErrorMaker([] { return Err::diagnostic("UnknownError 1",
                                                                                    "Не удалось завершить операцию. (UnknownError, ошибка 1.)", true); });
    }
    void normaliser()
    {
        QFETCH(Thrower, thrower);
        QFETCH(ErrorMaker, expected);
        const Err got = Err::from(capture(thrower));
        const Err want = expected();
        QCOMPARE(got.kind(), want.kind());
        QCOMPARE(got.code(), want.code());
        QCOMPARE(got.message(), want.message());
        QCOMPARE(got.retryable(), want.retryable());
        QCOMPARE(got.retryAfter(), want.retryAfter());
        QVERIFY(got == want);
    }

    void normaliserOfNothing()
    {
        const Err e = Err::from(nullptr);
        QCOMPARE(e.kind(), Err::Kind::diagnostic);
        QVERIFY(e.retryable());
    }

    void equality()
    {
        QVERIFY(Err::requestFailed("a") == Err::requestFailed("a"));
        QVERIFY(!(Err::requestFailed("a") == Err::timedOut("a")));
        QVERIFY(!(Err::diagnostic("C", "m", true, 1.0) == Err::diagnostic("C", "m", true, std::nullopt)));
        QVERIFY(!(Err::diagnostic("C", "m", true) == Err::diagnostic("C", "m", false)));
    }
};

QTEST_GUILESS_MAIN(TestProviderClientError)
#include "test_provider_client_error.moc"
