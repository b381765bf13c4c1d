#include "MPlayer.h"

#include <QEvent>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

#include "Exception.h"
#include "Forms.h"
#include "Quoted.h"
#include "Recovery.h"
#include "SoundEngine.h"
#include "TransportBar.h"

using sound::SoundEngine;

namespace {

const std::array<std::pair<const char*, TMPDeviceTypes>, 13> kDeviceTypes = {{
    {"dtAutoSelect", dtAutoSelect}, {"dtAVIVideo", dtAVIVideo},         {"dtCDAudio", dtCDAudio},
    {"dtDAT", dtDAT},               {"dtDigitalVideo", dtDigitalVideo}, {"dtMMMovie", dtMMMovie},
    {"dtOther", dtOther},           {"dtOverlay", dtOverlay},           {"dtScanner", dtScanner},
    {"dtSequencer", dtSequencer},   {"dtVCR", dtVCR},                   {"dtVideodisc", dtVideodisc},
    {"dtWaveAudio", dtWaveAudio},
}};

} // namespace

// The control's side of its transport buttons: the model reads and drives
// the control through its public operations, so a press makes the same calls
// a handler would.
class TMediaPlayer::Transport final : public TransportModel {
public:
    explicit Transport(TMediaPlayer& player) : player_(player) {}
    TMPModes Mode() const override { return player_.Mode(); }
    int Position() const override { return player_.Position(); }
    int Length() const override { return player_.TrackLength(1); }
    double PeakLevel() const override { return player_.PeakLevel(); }

protected:
    void Stop() override { player_.Stop(); }
    void Play() override { player_.Play(); }
    void Seek(int ms) override { player_.SetPosition(ms); }
    void RecordFrom(int ms) override
    {
        player_.SetFrom(ms);
        player_.StartRecording();
    }

private:
    TMediaPlayer& player_;
};

class TMediaPlayer::Impl : public QObject {
public:
    SoundEngine engine;
    AnsiString fileName;
    TMPDeviceTypes deviceType = dtAutoSelect;
    int from = 0;
    int to = 0;
    TransportBar* bar = nullptr;

    // Frames to milliseconds, rounded down and saturating at INT_MAX: the
    // control's positions are 32-bit, a file's length need not be.
    int ToMs(std::int64_t frames) const
    {
        const int rate = engine.SampleRate();
        if (rate <= 0 || frames <= 0)
            return 0;
        // frames * 1000 / rate without overflow: whole seconds, then the rest.
        const std::int64_t seconds = frames / rate;
        if (seconds > INT_MAX / 1000)
            return INT_MAX;
        return static_cast<int>(std::min<std::int64_t>(seconds * 1000 + (frames % rate) * 1000 / rate, INT_MAX));
    }
    // Milliseconds to frames, rounded up, so that reading the position back
    // gives the milliseconds that were set. Any int and any rate fit.
    std::int64_t ToFrames(int ms) const
    {
        const int rate = engine.SampleRate();
        if (ms <= 0 || rate <= 0)
            return 0;
        return (static_cast<std::int64_t>(ms) * rate + 999) / 1000;
    }
    // A position in milliseconds as frames. The track length in milliseconds
    // is rounded down, so it and anything past it mean the very end.
    std::int64_t FramesAt(int ms) const
    {
        const std::int64_t length = engine.Length();
        return ms >= ToMs(length) ? length : ToFrames(ms);
    }
    // After every operation: repaints the bar if a button changed, and has
    // anything the engine reported handled once the handler has returned.
    void Changed()
    {
        bar->Refresh();
        if (engine.Pending())
            PostTick();
    }
    void PostTick()
    {
        QMetaObject::invokeMethod(bar, [this] { Tick(); }, Qt::QueuedConnection);
    }
    // The engine had news: the end of playback, a failure, a message.
    void Tick()
    {
        const std::string message = engine.Poll();
        bar->Refresh();
        if (!message.empty())
            Application->HandleException(Exception(AnsiString(message)));
    }
    // Watches the window the bar is in, from the first recording on.
    void WatchWindow()
    {
        if (!watched && bar->window() != bar) {
            watched = bar->window();
            watched->installEventFilter(this);
        }
    }
    // The window closes (Exit, or its close box) with a recording that was
    // not saved: the engine keeps it under a dated name, and the user is told
    // where, once the window is out of the way.
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object == watched && event->type() == QEvent::Close && engine.HasUnsavedRecording()) {
            watched->hide();
            engine.Close();
            engine.Settle(std::chrono::seconds(30));
            const std::string message = engine.Poll();
            if (!message.empty())
                Application->ShowInformation(AnsiString(message));
        }
        return false;
    }
    QWidget* watched = nullptr;
};

TMediaPlayer::TMediaPlayer(TComponent* Owner)
    : TControl(Owner, nullptr), transport_(std::make_unique<Transport>(*this)), impl_(std::make_unique<Impl>())
{
    widget_ = impl_->bar = new TransportBar(*transport_);
    // Called on the engine's worker thread: the news is handled on this one.
    impl_->engine.SetNotifier([impl = impl_.get()] { impl->PostTick(); });
    // Once per run, when the loop starts: recordings cut off by a crash in
    // the current folder are brought back, and the user is told.
    static bool recoveryDone = false;
    if (!std::exchange(recoveryDone, true))
        QTimer::singleShot(0, [] {
            std::error_code ec;
            const auto folder = std::filesystem::current_path(ec);
            const std::string text = sound::DescribeRecovery(folder, sound::RecoverOrphanedRecordings(folder));
            if (!text.empty())
                Application->ShowInformation(AnsiString(text));
        });
}

TMediaPlayer::~TMediaPlayer()
{
    impl_.reset(); // stops sound; an unsaved recording is kept (see eventFilter)
    // The bar goes before the model it shows.
    delete std::exchange(widget_, nullptr);
}

AnsiString TMediaPlayer::FileName() const { return impl_->fileName; }
void TMediaPlayer::SetFileName(const AnsiString& name) { impl_->fileName = name; }
TMPDeviceTypes TMediaPlayer::DeviceType() const { return impl_->deviceType; }
void TMediaPlayer::SetDeviceType(TMPDeviceTypes type) { impl_->deviceType = type; }

void TMediaPlayer::Open()
{
    const auto changed = qScopeGuard([this] { impl_->Changed(); });
    if (impl_->deviceType != dtAutoSelect && impl_->deviceType != dtWaveAudio) {
        impl_->engine.Close();
        throw Exception("Cannot open " + sound::Quoted(impl_->fileName.str()) + ": the selected device type plays no sound files");
    }
    impl_->engine.Open(impl_->fileName.str());
}

void TMediaPlayer::Close()
{
    impl_->engine.Close();
    impl_->Changed();
}

void TMediaPlayer::Play()
{
    const auto changed = qScopeGuard([this] { impl_->Changed(); });
    impl_->engine.Play();
}

void TMediaPlayer::StartRecording()
{
    const auto changed = qScopeGuard([this] { impl_->Changed(); });
    impl_->WatchWindow();
    // From the very end, the same take goes on.
    impl_->engine.StartRecording(impl_->FramesAt(impl_->from), impl_->fileName.str());
}

void TMediaPlayer::Stop()
{
    impl_->engine.Stop();
    impl_->Changed();
}

void TMediaPlayer::Save()
{
    const auto changed = qScopeGuard([this] { impl_->Changed(); });
    impl_->engine.Save(impl_->fileName.str());
}

int TMediaPlayer::Position() const { return impl_->ToMs(impl_->engine.Position()); }

void TMediaPlayer::SetPosition(int ms)
{
    impl_->engine.Seek(impl_->FramesAt(ms));
    impl_->Changed();
}

int TMediaPlayer::From() const { return impl_->from; }
void TMediaPlayer::SetFrom(int ms) { impl_->from = ms; }
int TMediaPlayer::To() const { return impl_->to; }
void TMediaPlayer::SetTo(int ms) { impl_->to = ms; }

int TMediaPlayer::TrackLength(int track) const
{
    return track == 1 ? impl_->ToMs(impl_->engine.Length()) : 0;
}

double TMediaPlayer::PeakLevel() const { return impl_->engine.PeakLevel(); }

void TMediaPlayer::SetProperty(const formstream::Property& p)
{
    if (p.name == "FileName") {
        SetFileName(AnsiString(TextValue(p)));
    } else if (p.name == "DeviceType") {
        const std::string name = IdentValue(p);
        auto found = std::find_if(kDeviceTypes.begin(), kDeviceTypes.end(),
                                  [&](const auto& entry) { return name == entry.first; });
        if (found == kDeviceTypes.end())
            throw Exception("Property DeviceType has an unknown device type " + AnsiString(name));
        SetDeviceType(found->second);
    } else {
        TControl::SetProperty(p);
    }
}

TMPModes TMediaPlayer::Mode() const
{
    switch (impl_->engine.GetState()) {
    case SoundEngine::State::Closed: return mpNotReady;
    case SoundEngine::State::Playing: return mpPlaying;
    case SoundEngine::State::Recording: return mpRecording;
    default: return mpStopped;
    }
}

bool TMediaPlayer::ButtonEnabled(int button) const
{
    return impl_->bar->ButtonEnabled(button);
}

void TMediaPlayer::PressButton(int button)
{
    impl_->bar->Press(button);
}
