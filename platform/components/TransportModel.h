#pragma once
// The media player's transport buttons as a model, with no widget: which
// button can act in which state of the player, and what pressing one does.
// The player implements the reads and the operations below; the transport
// bar draws the model and forwards presses to it.

enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

class TransportModel {
public:
    // The buttons, left to right. Everything that lists them uses this order.
    enum Button { btPlay, btPause, btStop, btToStart, btToEnd, btBack, btStep, btRecord, btEject, ButtonCount };

    virtual ~TransportModel() = default;

    // What assistive technologies and tooltips call the button (UTF-8); empty
    // for a number that is no button.
    static const char* ButtonName(int button);

    // Whether the button can act now: nothing acts with nothing open, and
    // files cannot be ejected.
    bool Enabled(int button) const;
    // Does what the button's glyph shows, through the player's operations.
    // Only for an enabled button; an Exception from the player passes on.
    void Press(int button);

    // The player's state, as the bar shows it.
    virtual TMPModes Mode() const = 0;
    virtual int Position() const = 0;   // milliseconds
    virtual int Length() const = 0;     // milliseconds
    virtual double PeakLevel() const = 0; // linear, 0..1

protected:
    // The player's operations that the buttons drive.
    virtual void Stop() = 0;
    virtual void Play() = 0;
    virtual void Seek(int ms) = 0;
    virtual void RecordFrom(int ms) = 0;
};
