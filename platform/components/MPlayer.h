#pragma once
// The media player control: a bar of transport buttons (a view of the
// control's TransportModel) over a sound engine that plays and records
// through the default audio devices. Every call runs on the GUI thread and
// is synchronous; sound moves inside the control. Positions and lengths are
// milliseconds.
#include <memory>

#include "Controls.h"
#include "TransportModel.h"

enum TMPDeviceTypes {
    dtAutoSelect, dtAVIVideo, dtCDAudio, dtDAT, dtDigitalVideo, dtMMMovie, dtOther,
    dtOverlay, dtScanner, dtSequencer, dtVCR, dtVideodisc, dtWaveAudio
};

class TMediaPlayer : public TControl {
public:
    explicit TMediaPlayer(TComponent* Owner);
    ~TMediaPlayer() override;

    AnsiString FileName() const;
    void SetFileName(const AnsiString& name); // does not reopen anything
    TMPDeviceTypes DeviceType() const;
    void SetDeviceType(TMPDeviceTypes type);

    void Open();
    void Close();
    void Play();
    void StartRecording();
    void Stop();
    void Save();
    // What the control is doing: mpNotReady while nothing is open.
    TMPModes Mode() const;

    int Position() const;
    void SetPosition(int ms);
    int From() const;
    void SetFrom(int ms);
    int To() const;
    void SetTo(int ms);
    int TrackLength(int track) const;
    // The linear peak (0..1) of the sound at the current position: what is
    // being played or recorded now; 0 while stopped.
    double PeakLevel() const;

    // A stored option with no effect on what the control does.
    bool Notify = false;

    void SetProperty(const formstream::Property& p) override;

    // The transport bar's buttons (TransportModel::Button). A button is
    // enabled when it can act in the current state and the control is
    // enabled; pressing an enabled one does what its glyph shows, and an
    // Exception it raises is shown.
    bool ButtonEnabled(int button) const;
    void PressButton(int button);

private:
    class Transport;
    class Impl;
    std::unique_ptr<Transport> transport_; // made before the bar, which shows it
    std::unique_ptr<Impl> impl_;
};
