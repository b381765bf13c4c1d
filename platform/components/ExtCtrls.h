#pragma once
// The timer: ticks about once per Interval milliseconds while enabled.
#include <memory>

#include "Classes.h"

class QTimer;

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* Owner);
    ~TTimer() override;

    unsigned Interval() const { return interval_; }
    // 0 stops the ticks; a later period above 0 starts them again.
    void SetInterval(unsigned milliseconds);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Active() const; // ticking now

    TNotifyEvent OnTimer;

    void SetProperty(const formstream::Property& p) override;
    void SetEvent(const std::string& event, const TMethod& handler) override;

private:
    void Update();
    std::unique_ptr<QTimer> timer_;
    unsigned interval_ = 1000;
    bool enabled_ = true;
    bool inTick_ = false;
};
