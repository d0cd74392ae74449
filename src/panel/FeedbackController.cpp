#include "FeedbackController.h"

#include "platform/Defaults.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>
#include <QSettings>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tonewave {

namespace {

void putU32(char* at, quint32 value) { qToLittleEndian(value, at); }
void putU16(char* at, quint16 value) { qToLittleEndian(value, at); }

} // namespace

std::optional<QByteArray> make(const Tone& tone)
{
    if (tone.frequencies.empty() || !(tone.duration > 0))
        return std::nullopt;
    const double samples = std::floor(tone.duration * kSampleRate);
    // A duration too long for a WAVE size field makes no sound either.
    if (!(samples < double(0x7FFF'0000) / 2))
        return std::nullopt;
    const qsizetype n = std::max<qsizetype>(1, qsizetype(samples));
    const quint32 dataBytes = quint32(2 * n);

    QByteArray bytes(kHeaderSize + qsizetype(dataBytes), Qt::Uninitialized);
    char* h = bytes.data();
    std::memcpy(h, "RIFF", 4);
    putU32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putU32(h + 16, 16);
    putU16(h + 20, 1);
    putU16(h + 22, 1);
    putU32(h + 24, kSampleRate);
    putU32(h + 28, kSampleRate * 2);
    putU16(h + 32, 2);
    putU16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    putU32(h + 40, dataBytes);

    const auto count = qsizetype(tone.frequencies.size());
    char* out = h + kHeaderSize;
    for (qsizetype i = 0; i < n; ++i) {
        const double t = double(i) / double(n);
        const qsizetype k = std::min<qsizetype>(qsizetype(t * double(count)), count - 1);
        const double phase = 2 * std::numbers::pi * tone.frequencies[size_t(k)] * double(i) / kSampleRate;
        const double envelope = std::pow(std::sin(std::numbers::pi * t), 1.6);
        double value = std::sin(phase) * envelope * tone.gain * 32767;
        value = std::isfinite(value) ? std::clamp(value, -32768.0, 32767.0) : 0.0;
        putU16(out + 2 * i, quint16(qint16(std::trunc(value))));
    }
    return bytes;
}

} // namespace tonewave

namespace {

class AudioOutputSound final : public FeedbackSound {
public:
    AudioOutputSound(const QAudioDevice& device, const QAudioFormat& format, QByteArray samples)
        : m_samples(std::move(samples)), m_sink(device, format)
    {
        m_buffer.setBuffer(&m_samples);
        m_buffer.open(QIODevice::ReadOnly);
    }

    void restart() override
    {
        m_sink.stop();
        m_buffer.seek(0);
        m_sink.start(&m_buffer); // a failing output stays silent
    }

private:
    QByteArray m_samples;
    QBuffer m_buffer;
    QAudioSink m_sink;
};

} // namespace

const tonewave::Tone FeedbackController::kSelectionTone{{520}, 0.045, 0.12};
const tonewave::Tone FeedbackController::kSuccessTone{{590, 880}, 0.15, 0.1};

FeedbackController& FeedbackController::shared()
{
    static SettingsDefaults* settings = new SettingsDefaults(std::make_unique<QSettings>());
    static FeedbackController* controller = new FeedbackController(settings, &loadOnAudioOutput, [] {});
    return *controller;
}

FeedbackController::FeedbackController(Defaults* defaults, SoundLoader loader, HapticPerformer haptic)
    : m_selectionSound(makeToneSound(kSelectionTone, loader)),
      m_successSound(makeToneSound(kSuccessTone, loader)),
      m_defaults(defaults),
      m_haptic(std::move(haptic))
{
}

FeedbackController::~FeedbackController() = default;

void FeedbackController::playSelection() { cue(m_selectionSound.get()); }
void FeedbackController::playSuccess() { cue(m_successSound.get()); }

void FeedbackController::cue(FeedbackSound* sound)
{
    if (enabled("soundsEnabled") && sound)
        sound->restart();
    if (enabled("hapticsEnabled") && m_haptic)
        m_haptic();
}

bool FeedbackController::enabled(const char* key) const
{
    return !m_defaults || m_defaults->boolean(QLatin1String(key)).value_or(true);
}

std::unique_ptr<FeedbackSound> FeedbackController::makeToneSound(const tonewave::Tone& tone, const SoundLoader& loader)
{
    const std::optional<QByteArray> wave = tonewave::make(tone);
    if (!wave || !loader)
        return nullptr;
    return loader(*wave);
}

std::unique_ptr<FeedbackSound> FeedbackController::loadOnAudioOutput(const QByteArray& wave)
{
    using tonewave::kHeaderSize;
    if (wave.size() < kHeaderSize || !wave.startsWith("RIFF") || wave.mid(8, 8) != "WAVEfmt "
        || wave.mid(36, 4) != "data")
        return nullptr;
    const uchar* h = reinterpret_cast<const uchar*>(wave.constData());
    const auto channels = qFromLittleEndian<quint16>(h + 22);
    const auto rate = qFromLittleEndian<quint32>(h + 24);
    const auto bits = qFromLittleEndian<quint16>(h + 34);
    const auto dataBytes = qFromLittleEndian<quint32>(h + 40);
    if (qFromLittleEndian<quint16>(h + 20) != 1 || bits != 16 || channels < 1 || rate < 1 || rate > 384000
        || dataBytes > quint32(wave.size() - kHeaderSize))
        return nullptr;

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return nullptr;
    QAudioFormat format;
    format.setSampleRate(int(rate));
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return nullptr;
    return std::make_unique<AudioOutputSound>(device, format, wave.mid(kHeaderSize, qsizetype(dataBytes)));
}
