#include "MPlayer.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <array>
#include <climits>

#include "Exception.h"
#include "Forms.h"
#include "SoundEngine.h"

using sound::SoundEngine;

namespace {

// The transport buttons, left to right.
enum Button { btPlay, btPause, btStop, btToStart, btToEnd, btBack, btStep, btRecord, btEject };
constexpr int ButtonCount = TMediaPlayer::ButtonCount;
static_assert(btEject + 1 == ButtonCount);

const char* const kButtonNames[ButtonCount] = {"Play",         "Pause",           "Stop",
                                               "To start",     "To end",          "Step back one second",
                                               "Step forward one second", "Record", "Eject"};

// How far the step buttons move: one second.
constexpr int kStepMs = 1000;
// How often sound in motion is checked: ends of playback, failures.
constexpr int kPollMs = 20;

const std::array<std::pair<const char*, TMPDeviceTypes>, 13> kDeviceTypes = {{
    {"dtAutoSelect", dtAutoSelect}, {"dtAVIVideo", dtAVIVideo},         {"dtCDAudio", dtCDAudio},
    {"dtDAT", dtDAT},               {"dtDigitalVideo", dtDigitalVideo}, {"dtMMMovie", dtMMMovie},
    {"dtOther", dtOther},           {"dtOverlay", dtOverlay},           {"dtScanner", dtScanner},
    {"dtSequencer", dtSequencer},   {"dtVCR", dtVCR},                   {"dtVideodisc", dtVideodisc},
    {"dtWaveAudio", dtWaveAudio},
}};

} // namespace

// The button bar: one focusable widget. Left and Right move a focus mark
// between the buttons, Space presses the marked one, a click presses the one
// under the mouse.
class TransportBar : public QWidget {
public:
    TMediaPlayer* player = nullptr;

    TransportBar() { setFocusPolicy(Qt::StrongFocus); }

    QRect ButtonRect(int i) const
    {
        const int left = i * width() / ButtonCount;
        const int right = (i + 1) * width() / ButtonCount;
        return QRect(left, 0, right - left, height());
    }
    int ButtonAt(const QPoint& p) const
    {
        for (int i = 0; i < ButtonCount; ++i)
            if (ButtonRect(i).contains(p))
                return i;
        return -1;
    }

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override
    {
        switch (e->key()) {
        case Qt::Key_Left:
            marked_ = std::max(0, marked_ - 1);
            update();
            break;
        case Qt::Key_Right:
            marked_ = std::min(ButtonCount - 1, marked_ + 1);
            update();
            break;
        case Qt::Key_Space:
            if (!e->isAutoRepeat())
                Press(marked_);
            break;
        default:
            QWidget::keyPressEvent(e);
        }
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton)
            return QWidget::mousePressEvent(e);
        down_ = ButtonAt(e->position().toPoint());
        if (down_ >= 0)
            marked_ = down_;
        update();
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton)
            return QWidget::mouseReleaseEvent(e);
        const int was = std::exchange(down_, -1);
        update();
        if (was >= 0 && was == ButtonAt(e->position().toPoint()))
            Press(was);
    }
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(e);
            const int i = ButtonAt(help->pos());
            if (i >= 0)
                QToolTip::showText(help->globalPos(), QString::fromUtf8(kButtonNames[i]), this, ButtonRect(i));
            else
                QToolTip::hideText();
            return true;
        }
        return QWidget::event(e);
    }
    void focusInEvent(QFocusEvent* e) override
    {
        update();
        QWidget::focusInEvent(e);
    }
    void focusOutEvent(QFocusEvent* e) override
    {
        update();
        QWidget::focusOutEvent(e);
    }

private:
    void Press(int button);
    void DrawGlyph(QPainter& p, int button, const QRect& r, bool enabled) const;

    int marked_ = 0;
    int down_ = -1;
};

class TMediaPlayer::Impl {
public:
    SoundEngine engine;
    AnsiString fileName;
    TMPDeviceTypes deviceType = dtAutoSelect;
    int from = 0;
    int to = 0;
    QTimer* poll = nullptr; // owned by the bar
    TransportBar* bar = nullptr;

    int ToMs(std::int64_t frames) const
    {
        const int rate = engine.SampleRate();
        if (rate <= 0 || frames <= 0)
            return 0;
        return static_cast<int>(std::min<std::int64_t>(frames * 1000 / rate, INT_MAX));
    }
    // Rounded up, so that reading the position back gives the milliseconds
    // that were set.
    std::int64_t ToFrames(int ms) const
    {
        const int rate = engine.SampleRate();
        if (ms <= 0)
            return 0;
        return (static_cast<std::int64_t>(ms) * rate + 999) / 1000;
    }
    bool Moving() const
    {
        const auto state = engine.GetState();
        return state == SoundEngine::State::Playing || state == SoundEngine::State::Recording;
    }
    // Repaints the bar and keeps the poll going while sound moves. Once it
    // stops, the timer runs out on its next tick, which reports any failure
    // left over.
    void Changed()
    {
        bar->update();
        if (Moving() && !poll->isActive())
            poll->start();
    }
    void Tick()
    {
        const std::string failure = engine.Poll();
        if (!Moving())
            poll->stop();
        bar->update();
        if (!failure.empty() && Application)
            Application->HandleException(Exception(AnsiString(failure)));
    }
};

TMediaPlayer::TMediaPlayer(TComponent* Owner) : TControl(Owner, new TransportBar), impl_(std::make_unique<Impl>())
{
    auto* bar = static_cast<TransportBar*>(widget_);
    bar->player = this;
    impl_->bar = bar;
    impl_->poll = new QTimer(bar);
    impl_->poll->setInterval(kPollMs);
    QObject::connect(impl_->poll, &QTimer::timeout, [this] { impl_->Tick(); });
}

TMediaPlayer::~TMediaPlayer()
{
    impl_->poll->stop();
    impl_->bar->player = nullptr;
    impl_.reset(); // stops sound and discards an unsaved recording
}

AnsiString TMediaPlayer::FileName() const { return impl_->fileName; }
void TMediaPlayer::SetFileName(const AnsiString& name) { impl_->fileName = name; }
TMPDeviceTypes TMediaPlayer::DeviceType() const { return impl_->deviceType; }
void TMediaPlayer::SetDeviceType(TMPDeviceTypes type) { impl_->deviceType = type; }

void TMediaPlayer::Open()
{
    if (impl_->deviceType != dtAutoSelect && impl_->deviceType != dtWaveAudio) {
        impl_->engine.Close();
        impl_->Changed();
        throw Exception("Cannot open \"" + impl_->fileName + "\": the selected device type plays no sound files");
    }
    try {
        impl_->engine.Open(impl_->fileName.str());
    } catch (...) {
        impl_->Changed();
        throw;
    }
    impl_->Changed();
}

void TMediaPlayer::Close()
{
    impl_->engine.Close();
    impl_->Changed();
}

void TMediaPlayer::Play()
{
    impl_->engine.Play();
    impl_->Changed();
}

void TMediaPlayer::StartRecording()
{
    try {
        impl_->engine.StartRecording(impl_->ToFrames(impl_->from), impl_->fileName.str());
    } catch (...) {
        impl_->Changed();
        throw;
    }
    impl_->Changed();
}

void TMediaPlayer::Stop()
{
    impl_->engine.Stop();
    impl_->Changed();
}

void TMediaPlayer::Save()
{
    try {
        impl_->engine.Save(impl_->fileName.str());
    } catch (...) {
        impl_->Changed();
        throw;
    }
    impl_->Changed();
}

int TMediaPlayer::Position() const { return impl_->ToMs(impl_->engine.Position()); }

void TMediaPlayer::SetPosition(int ms)
{
    impl_->engine.Seek(impl_->ToFrames(ms));
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

bool TMediaPlayer::ButtonEnabled(int button) const
{
    const auto state = impl_->engine.GetState();
    if (state == SoundEngine::State::Closed || !widget_->isEnabled())
        return false;
    const bool moving = impl_->Moving();
    const std::int64_t position = impl_->engine.Position();
    const std::int64_t length = impl_->engine.Length();
    switch (button) {
    case btPlay: return state != SoundEngine::State::Playing && length > 0;
    case btPause:
    case btStop: return moving;
    case btToStart:
    case btBack: return position > 0;
    case btToEnd:
    case btStep: return position < length;
    case btRecord: return state != SoundEngine::State::Recording;
    default: return false; // files cannot be ejected
    }
}

void TMediaPlayer::PressButton(int button)
{
    if (!ButtonEnabled(button))
        return;
    DispatchEvent([&] {
        SoundEngine& engine = impl_->engine;
        switch (button) {
        case btPlay:
            if (engine.GetState() == SoundEngine::State::Recording)
                engine.Stop();
            if (engine.Position() >= engine.Length())
                engine.Seek(0); // from the end, play starts over
            engine.Play();
            break;
        case btPause:
        case btStop: engine.Stop(); break;
        case btToStart: engine.Seek(0); break;
        case btToEnd: engine.Seek(engine.Length()); break;
        case btBack: engine.Seek(engine.Position() - impl_->ToFrames(kStepMs)); break;
        case btStep: engine.Seek(engine.Position() + impl_->ToFrames(kStepMs)); break;
        case btRecord:
            impl_->from = Position();
            engine.StartRecording(engine.Position(), impl_->fileName.str());
            break;
        default: break;
        }
    });
    impl_->Changed();
}

// ---------------------------------------------------------------- drawing

void TransportBar::Press(int button)
{
    if (player)
        player->PressButton(button);
}

void TransportBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < ButtonCount; ++i) {
        const QRect r = ButtonRect(i);
        const bool enabled = player && player->ButtonEnabled(i);
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = r;
        option.state = QStyle::State_Raised;
        if (enabled)
            option.state |= QStyle::State_Enabled;
        if (i == down_)
            option.state = (option.state & ~QStyle::State_Raised) | QStyle::State_Sunken;
        style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);

        DrawGlyph(p, i, r.translated(i == down_ ? QPoint(1, 1) : QPoint()), enabled);
        if (hasFocus() && i == marked_) {
            QPen pen(palette().color(QPalette::ButtonText), 1, Qt::DotLine);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(r.adjusted(3, 3, -4, -4)));
        }
    }
}

void TransportBar::DrawGlyph(QPainter& p, int button, const QRect& r, bool enabled) const
{
    const QColor ink = palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    const qreal size = std::min(r.width(), r.height()) * 0.42;
    const QPointF c = QRectF(r).center();
    const qreal h = size / 2; // half the glyph's height
    const qreal bar = std::max<qreal>(2, size / 6);
    auto triangle = [&](qreal left, qreal width, bool pointsRight) {
        QPainterPath path;
        if (pointsRight) {
            path.moveTo(left, c.y() - h);
            path.lineTo(left + width, c.y());
            path.lineTo(left, c.y() + h);
        } else {
            path.moveTo(left + width, c.y() - h);
            path.lineTo(left, c.y());
            path.lineTo(left + width, c.y() + h);
        }
        path.closeSubpath();
        p.fillPath(path, ink);
    };
    auto barAt = [&](qreal left) { p.fillRect(QRectF(left, c.y() - h, bar, 2 * h), ink); };
    const qreal w = size * 0.8; // width of one triangle

    p.setPen(Qt::NoPen);
    switch (button) {
    case btPlay: triangle(c.x() - w / 2, w, true); break;
    case btPause:
        barAt(c.x() - bar * 1.5);
        barAt(c.x() + bar * 0.5);
        break;
    case btStop: p.fillRect(QRectF(c.x() - h * 0.85, c.y() - h * 0.85, h * 1.7, h * 1.7), ink); break;
    case btToStart: // |<<
        barAt(c.x() - w - bar / 2);
        triangle(c.x() - w + bar / 2, w / 2 + 1, false);
        triangle(c.x() - w / 2 + bar / 2, w / 2 + 1, false);
        break;
    case btToEnd: // >>|
        triangle(c.x() - w / 2 - bar / 2 - 1, w / 2 + 1, true);
        triangle(c.x() - bar / 2 - 1, w / 2 + 1, true);
        barAt(c.x() + w / 2 - bar / 2);
        break;
    case btBack: // <<
        triangle(c.x() - w / 2, w / 2, false);
        triangle(c.x(), w / 2, false);
        break;
    case btStep: // >>
        triangle(c.x() - w / 2, w / 2, true);
        triangle(c.x(), w / 2, true);
        break;
    case btRecord:
        p.setBrush(enabled ? QColor(200, 0, 0) : ink);
        p.drawEllipse(c, h * 0.8, h * 0.8);
        break;
    case btEject: {
        QPainterPath path;
        path.moveTo(c.x() - h, c.y() + h * 0.15);
        path.lineTo(c.x(), c.y() - h);
        path.lineTo(c.x() + h, c.y() + h * 0.15);
        path.closeSubpath();
        p.fillPath(path, ink);
        p.fillRect(QRectF(c.x() - h, c.y() + h * 0.45, 2 * h, h * 0.4), ink);
        break;
    }
    default: break;
    }
}
