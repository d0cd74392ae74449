#pragma once

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Defaults;

// A loaded cue sound.
class FeedbackSound {
public:
    virtual ~FeedbackSound() = default;
    // Stops the sound if it is playing and plays it from its beginning.
    virtual void restart() = 0;
};

// In-memory WAVE files of sine tones: 44.1 kHz, mono, signed 16-bit PCM, a
// 44-byte header, the duration split evenly between the frequencies and a
// sin^1.6 envelope over the whole tone.
namespace tonewave {

constexpr int kSampleRate = 44100;
constexpr int kHeaderSize = 44;

struct Tone {
    std::vector<double> frequencies; // Hz, played one after the other
    double duration = 0;             // seconds
    double gain = 0;                 // 0...1
};

// The WAVE bytes of `tone`; none without a frequency or with a duration not above 0.
std::optional<QByteArray> make(const Tone& tone);

} // namespace tonewave

// The panel's two acknowledgement cues, each a tone and a haptic tap: the
// selection cue (520 Hz) and the success cue (590 Hz, then 880 Hz). The tones
// are synthesised once, when the controller is built. Each cue reads the
// preferences "soundsEnabled" and "hapticsEnabled" afresh (absent or not a
// Boolean: on).
class FeedbackController {
public:
    using SoundLoader = std::function<std::unique_ptr<FeedbackSound>(const QByteArray& wave)>;
    using HapticPerformer = std::function<void()>;

    static const tonewave::Tone kSelectionTone;
    static const tonewave::Tone kSuccessTone;

    // The process's controller, built on first use: the default audio output
    // and no haptics (none on this platform). It reads the application's
    // settings until setDefaults names the defaults to read.
    static FeedbackController& shared();

    FeedbackController(Defaults* defaults, SoundLoader loader, HapticPerformer haptic);
    ~FeedbackController();
    FeedbackController(const FeedbackController&) = delete;
    FeedbackController& operator=(const FeedbackController&) = delete;

    void playSelection();
    void playSuccess();

    void setDefaults(Defaults* defaults) { m_defaults = defaults; }

    // One sound from a tone through `loader`; none when the tone or the loading fails.
    static std::unique_ptr<FeedbackSound> makeToneSound(const tonewave::Tone& tone, const SoundLoader& loader);
    // A sound on the default audio output; none when there is no output, the
    // bytes are not such a WAVE file or the output cannot play its format.
    static std::unique_ptr<FeedbackSound> loadOnAudioOutput(const QByteArray& wave);

    bool hasSelectionSound() const { return bool(m_selectionSound); }
    bool hasSuccessSound() const { return bool(m_successSound); }

private:
    void cue(FeedbackSound* sound);
    bool enabled(const char* key) const;

    std::unique_ptr<FeedbackSound> m_selectionSound;
    std::unique_ptr<FeedbackSound> m_successSound;
    Defaults* m_defaults;
    HapticPerformer m_haptic;
};
