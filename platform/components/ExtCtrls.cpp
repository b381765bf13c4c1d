#include "ExtCtrls.h"

#include <QTimer>

#include "Exception.h"

using formstream::Property;

TTimer::TTimer(TComponent* Owner) : TComponent(Owner), timer_(std::make_unique<QTimer>())
{
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] {
        // A tick that comes while the previous one is still being handled
        // (say, inside an error box it raised) is dropped, so errors do not
        // pile up one box per tick.
        if (!OnTimer || inTick_)
            return;
        inTick_ = true;
        DispatchEvent([this] { OnTimer(this); });
        inTick_ = false;
    });
    Update();
}

TTimer::~TTimer() = default;

void TTimer::SetInterval(unsigned milliseconds)
{
    interval_ = milliseconds;
    Update();
}

void TTimer::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    Update();
}

bool TTimer::Active() const { return timer_->isActive(); }

void TTimer::Update()
{
    if (enabled_ && interval_ > 0)
        timer_->start(static_cast<int>(std::min<unsigned>(interval_, INT32_MAX)));
    else
        timer_->stop();
}

void TTimer::SetProperty(const Property& p)
{
    if (p.name == "Interval") {
        const int value = IntValue(p);
        if (value < 0)
            throw Exception("Property Interval cannot be negative");
        SetInterval(static_cast<unsigned>(value));
    } else if (p.name == "Enabled") {
        SetEnabled(BoolValue(p));
    } else if (p.name == "Left" || p.name == "Top") {
        (void)IntValue(p); // where the designer showed it; nothing uses it
    } else {
        TComponent::SetProperty(p);
    }
}

void TTimer::SetEvent(const std::string& event, const TMethod& handler)
{
    if (event != "OnTimer")
        return TComponent::SetEvent(event, handler);
    if (!handler.notify)
        throw Exception("The handler bound to " + Name + ".OnTimer does not take a tick");
    OnTimer = handler.notify;
}
