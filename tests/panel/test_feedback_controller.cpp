#include "panel/FeedbackController.h"
#include "platform/Defaults.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QMediaDevices>
#include <QAudioDevice>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

struct Counters {
    QList<QByteArray> loaded;
    QList<int> restarts; // per loaded sound
    int taps = 0;
};

class CountingSound final : public FeedbackSound {
public:
    CountingSound(Counters& counters, int index) : m_counters(counters), m_index(index) {}
    void restart() override { ++m_counters.restarts[m_index]; }

private:
    Counters& m_counters;
    int m_index;
};

FeedbackController::SoundLoader countingLoader(Counters& counters, bool fail = false)
{
    return [&counters, fail](const QByteArray& wave) -> std::unique_ptr<FeedbackSound> {
        counters.loaded << wave;
        counters.restarts << 0;
        if (fail)
            return nullptr;
        return std::make_unique<CountingSound>(counters, int(counters.restarts.size()) - 1);
    };
}

quint32 u32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 u16(const QByteArray& b, int at) { return qFromLittleEndian<quint16>(b.constData() + at); }
qint16 sample(const QByteArray& wave, qsizetype i) { return qFromLittleEndian<qint16>(wave.constData() + 44 + 2 * i); }

int peak(const QByteArray& wave, qsizetype from, qsizetype to)
{
    int m = 0;
    for (qsizetype i = from; i < to; ++i)
        m = std::max(m, std::abs(int(sample(wave, i))));
    return m;
}

int signChanges(const QByteArray& wave, qsizetype from, qsizetype to)
{
    int changes = 0;
    for (qsizetype i = from + 1; i < to; ++i)
        if ((sample(wave, i - 1) < 0) != (sample(wave, i) < 0))
            ++changes;
    return changes;
}

// A stored preference: "-" absent, "true"/"false" a Boolean, anything else that text.
void store(MemoryDefaults& d, const char* key, const QString& value)
{
    if (value == "-")
        d.remove(key);
    else if (value == "true" || value == "false")
        d.setBool(key, value == "true");
    else if (value == "1")
        d.setDouble(key, 1);
    else
        d.setString(key, value);
}

} // namespace

Q_DECLARE_METATYPE(tonewave::Tone)

class FeedbackControllerTest : public QObject {
    Q_OBJECT
private slots:
    void waveFiles_data()
    {
        QTest::addColumn<tonewave::Tone>("tone");
        QTest::addColumn<int>("sampleBytes");
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");
        QTest::newRow("selection") << FeedbackController::kSelectionTone << 3968 << -3929 << 3920;
        QTest::newRow("success") << FeedbackController::kSuccessTone << 13230 << -3275 << 3276;
    }
    void waveFiles()
    {
        QFETCH(tonewave::Tone, tone);
        QFETCH(int, sampleBytes);
        QFETCH(int, lowest);
        QFETCH(int, highest);
        const QByteArray wave = *tonewave::make(tone);
        QCOMPARE(wave.size(), 44 + sampleBytes);
        QCOMPARE(wave.left(4), "RIFF");
        QCOMPARE(u32(wave, 4), quint32(36 + sampleBytes));
        QCOMPARE(wave.mid(8, 8), "WAVEfmt ");
        QCOMPARE(u32(wave, 16), 16u);
        QCOMPARE(u16(wave, 20), 1); // PCM
        QCOMPARE(u16(wave, 22), 1); // mono
        QCOMPARE(u32(wave, 24), 44100u);
        QCOMPARE(u32(wave, 28), 88200u);
        QCOMPARE(u16(wave, 32), 2);
        QCOMPARE(u16(wave, 34), 16);
        QCOMPARE(wave.mid(36, 4), "data");
        QCOMPARE(u32(wave, 40), quint32(sampleBytes));

        const qsizetype n = sampleBytes / 2;
        int low = 0, high = 0;
        for (qsizetype i = 0; i < n; ++i) {
            low = std::min(low, int(sample(wave, i)));
            high = std::max(high, int(sample(wave, i)));
        }
        QCOMPARE(low, lowest);
        QCOMPARE(high, highest);
        // The envelope: silent at the start, loudest in the middle, fading out at the end.
        QCOMPARE(sample(wave, 0), 0);
        const qsizetype tenth = n / 10;
        QVERIFY(peak(wave, 0, tenth) < peak(wave, 4 * tenth, 6 * tenth) / 2);
        QVERIFY(peak(wave, n - tenth, n) < peak(wave, 4 * tenth, 6 * tenth) / 2);
        QVERIFY(std::abs(sample(wave, n - 1)) < 20);
    }

    // 590 Hz for samples 0 to 3307, 880 Hz from 3308 on, the phase taken from the
    // absolute sample index.
    void successToneChangesNoteHalfway()
    {
        const QByteArray wave = *tonewave::make(FeedbackController::kSuccessTone);
        const double seconds = 3308.0 / 44100;
        QVERIFY(std::abs(signChanges(wave, 0, 3308) - 2 * 590 * seconds) <= 3);
        QVERIFY(std::abs(signChanges(wave, 3308, 6615) - 2 * 880 * (6615 - 3308) / 44100.0) <= 3);
        for (qsizetype i : {qsizetype(1), qsizetype(3307), qsizetype(3308), qsizetype(5000)}) {
            const double t = double(i) / 6615;
            const double frequency = i < 3308 ? 590 : 880;
            const double value = std::sin(2 * std::numbers::pi * frequency * double(i) / 44100)
                * std::pow(std::sin(std::numbers::pi * t), 1.6) * 0.1 * 32767;
            QCOMPARE(sample(wave, i), qint16(std::trunc(value)));
        }
    }

    void noTone_data()
    {
        QTest::addColumn<tonewave::Tone>("tone");
        QTest::newRow("no frequency") << tonewave::Tone{{}, 0.1, 0.1};
        QTest::newRow("duration 0") << tonewave::Tone{{440}, 0, 0.1};
        QTest::newRow("negative duration") << tonewave::Tone{{440}, -1, 0.1};
        QTest::newRow("NaN duration") << tonewave::Tone{{440}, std::numeric_limits<double>::quiet_NaN(), 0.1};
        QTest::newRow("too long for a WAVE file") << tonewave::Tone{{440}, 1e9, 0.1};
    }
    void noTone()
    {
        QFETCH(tonewave::Tone, tone);
        QVERIFY(!tonewave::make(tone));
        Counters counters;
        QVERIFY(!FeedbackController::makeToneSound(tone, countingLoader(counters)));
        QVERIFY(counters.loaded.isEmpty());
    }

    void shortestToneHasOneSample()
    {
        const QByteArray wave = *tonewave::make({{440}, 1e-6, 1.0});
        QCOMPARE(wave.size(), 46);
        QCOMPARE(sample(wave, 0), 0);
        // A gain past 1 clamps instead of wrapping round.
        const QByteArray loud = *tonewave::make({{440}, 0.01, 4.0});
        int low = 0, high = 0;
        for (qsizetype i = 0; i < 441; ++i) {
            low = std::min(low, int(sample(loud, i)));
            high = std::max(high, int(sample(loud, i)));
        }
        QCOMPARE(low, -32768);
        QCOMPARE(high, 32767);
    }

    // Sound and tap by the stored preferences: "-" absent, Booleans, and values of other types (on).
    void cues_data()
    {
        QTest::addColumn<QString>("sounds");
        QTest::addColumn<QString>("haptics");
        QTest::addColumn<int>("restarts");
        QTest::addColumn<int>("taps");
        QTest::newRow("both absent") << "-" << "-" << 1 << 1;
        QTest::newRow("sounds off, haptics absent") << "false" << "-" << 0 << 1;
        QTest::newRow("haptics off") << "true" << "false" << 1 << 0;
        QTest::newRow("both off") << "false" << "false" << 0 << 0;
        QTest::newRow("text is not a Boolean") << "no" << "off" << 1 << 1;
        QTest::newRow("number is not a Boolean") << "1" << "1" << 1 << 1;
    }
    void cues()
    {
        QFETCH(QString, sounds);
        QFETCH(QString, haptics);
        QFETCH(int, restarts);
        QFETCH(int, taps);
        MemoryDefaults defaults;
        store(defaults, "soundsEnabled", sounds);
        store(defaults, "hapticsEnabled", haptics);
        Counters counters;
        FeedbackController controller(&defaults, countingLoader(counters), [&counters] { ++counters.taps; });
        QCOMPARE(counters.loaded.size(), 2);
        QCOMPARE(counters.loaded.at(0), *tonewave::make(FeedbackController::kSelectionTone));
        QCOMPARE(counters.loaded.at(1), *tonewave::make(FeedbackController::kSuccessTone));

        controller.playSelection();
        QCOMPARE(counters.restarts, QList<int>({restarts, 0}));
        QCOMPARE(counters.taps, taps);
        controller.playSuccess();
        controller.playSuccess();
        QCOMPARE(counters.restarts, QList<int>({restarts, 2 * restarts}));
        QCOMPARE(counters.taps, 3 * taps);
        // Synthesised once: cues load nothing more.
        QCOMPARE(counters.loaded.size(), 2);
    }

    // Each cue reads the preferences again.
    void preferenceChangeTakesEffectAtTheNextCue()
    {
        MemoryDefaults defaults;
        Counters counters;
        FeedbackController controller(&defaults, countingLoader(counters), [&counters] { ++counters.taps; });
        defaults.setBool("soundsEnabled", false);
        controller.playSelection();
        defaults.setBool("soundsEnabled", true);
        defaults.setBool("hapticsEnabled", false);
        controller.playSelection();
        QCOMPARE(counters.restarts.at(0), 1);
        QCOMPARE(counters.taps, 1);
    }

    // A sound that cannot be loaded is absent: the cue is silent but still taps.
    void unloadableSoundStillTaps()
    {
        MemoryDefaults defaults;
        Counters counters;
        FeedbackController controller(&defaults, countingLoader(counters, true), [&counters] { ++counters.taps; });
        QVERIFY(!controller.hasSelectionSound());
        QVERIFY(!controller.hasSuccessSound());
        controller.playSelection();
        controller.playSuccess();
        QCOMPARE(counters.taps, 2);
    }

    void audioOutputRejects_data()
    {
        QTest::addColumn<QByteArray>("wave");
        const QByteArray good = *tonewave::make(FeedbackController::kSelectionTone);
        auto patched = [&good](int at, const QByteArray& with) { QByteArray b = good; b.replace(at, with.size(), with); return b; };
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header cut short") << good.left(40);
        QTest::newRow("not RIFF") << patched(0, "RIFX");
        QTest::newRow("not PCM") << patched(20, QByteArray("\x03\x00", 2));
        QTest::newRow("8-bit samples") << patched(34, QByteArray("\x08\x00", 2));
        QTest::newRow("data size beyond the bytes") << patched(40, QByteArray("\xFF\xFF\x00\x00", 4));
    }
    void audioOutputRejects()
    {
        QFETCH(QByteArray, wave);
        QVERIFY(!FeedbackController::loadOnAudioOutput(wave));
    }

    // Without an audio output the cues are silent and nothing fails.
    void audioOutputWhenThereIsNone()
    {
        const QByteArray wave = *tonewave::make(FeedbackController::kSelectionTone);
        const bool noOutput = QMediaDevices::defaultAudioOutput().isNull();
        if (!noOutput)
            QSKIP("this machine has an audio output; the cue would sound");
        QVERIFY(!FeedbackController::loadOnAudioOutput(wave));
        FeedbackController& shared = FeedbackController::shared();
        QCOMPARE(&FeedbackController::shared(), &shared);
        MemoryDefaults defaults;
        shared.setDefaults(&defaults);
        shared.playSelection();
        shared.playSuccess();
        QVERIFY(!shared.hasSelectionSound());
        shared.setDefaults(nullptr);
    }
};

VANTOREL_UI_TEST_MAIN(FeedbackControllerTest)
#include "test_feedback_controller.moc"
