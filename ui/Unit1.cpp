#include "Unit1.h"

TForm1* Form1 = nullptr;
AnsiString openFileName;
bool openPending;

TForm1::TForm1(TComponent* Owner) : TForm(Owner)
{
    ReadForm("TForm1", "TFORM1",
             TPublished()
                 .Field("MediaPlayer1", MediaPlayer1)
                 .Field("btnrecord", btnrecord)
                 .Field("btnsave", btnsave)
                 .Field("btnstop", btnstop)
                 .Field("Play", Play)
                 .Field("OpenDialog1", OpenDialog1)
                 .Field("SaveDialog1", SaveDialog1)
                 .Field("btnopen", btnopen)
                 .Field("Edit1", Edit1)
                 .Field("btnend", btnend)
                 .Field("ScrollBar1", ScrollBar1)
                 .Field("Timer1", Timer1)
                 .Field("Label1", Label1)
                 .Method("btnrecordClick", TNotifyEvent([this](TObject* s) { btnrecordClick(s); }))
                 .Method("PlayClick", TNotifyEvent([this](TObject* s) { PlayClick(s); }))
                 .Method("btnstopClick", TNotifyEvent([this](TObject* s) { btnstopClick(s); }))
                 .Method("btnsaveClick", TNotifyEvent([this](TObject* s) { btnsaveClick(s); }))
                 .Method("btnopenClick", TNotifyEvent([this](TObject* s) { btnopenClick(s); }))
                 .Method("btnendClick", TNotifyEvent([this](TObject* s) { btnendClick(s); }))
                 .Method("ScrollBar1Scroll", TScrollEvent([this](TObject* s, TScrollCode code, int& pos) {
                             ScrollBar1Scroll(s, code, pos);
                         }))
                 .Method("Timer1Timer", TNotifyEvent([this](TObject* s) { Timer1Timer(s); })));
    // Neither has a caption: screen readers name them by what they show.
    Edit1->SetAccessibleName("File name");
    ScrollBar1->SetAccessibleName("Position");
    openPending = false;
}

// Records from the input into a device opened on the template "test1.wav";
// the recording is saved as "Temp.wav" by Stop.
void TForm1::btnrecordClick(TObject*)
{
    MediaPlayer1->SetFileName("test1.wav");
    MediaPlayer1->Open();
    MediaPlayer1->Close();
    MediaPlayer1->Open();
    MediaPlayer1->Notify = true;
    MediaPlayer1->SetFileName("Temp.wav");
    MediaPlayer1->SetDeviceType(dtWaveAudio);
    MediaPlayer1->SetFrom(0);
    MediaPlayer1->SetPosition(0);
    Timer1->SetInterval(500);
    MediaPlayer1->StartRecording();
}

// Plays the file chosen with Open if Play has not loaded it yet, otherwise
// whatever the device holds, from the start.
void TForm1::PlayClick(TObject*)
{
    if (openPending) {
        MediaPlayer1->SetFileName(openFileName);
        MediaPlayer1->Open();
        MediaPlayer1->Play();
        openPending = false;
    }
    MediaPlayer1->SetPosition(0);
    Timer1->SetInterval(50);
    Label1->SetText(IntToStr(MediaPlayer1->TrackLength(1)));
    ScrollBar1->SetMax(MediaPlayer1->TrackLength(1));
    MediaPlayer1->Play();
}

// Ends recording or playback, saves the device's content under its file
// name and rewinds.
void TForm1::btnstopClick(TObject*)
{
    const int p = MediaPlayer1->Position();
    MediaPlayer1->SetTo(p);
    Timer1->SetInterval(0);
    MediaPlayer1->Stop();
    MediaPlayer1->Save();
    MediaPlayer1->SetPosition(0);
    ScrollBar1->SetPosition(0);
    Label1->SetText(IntToStr(0));
}

// Asks for a file name and shows it; nothing is written.
void TForm1::btnsaveClick(TObject*)
{
    SaveDialog1->Execute();
    Edit1->SetText(SaveDialog1->FileName());
    if (Edit1->GetText() != "")
        btnrecord->SetEnabled(true);
}

// Chooses the file the next Play loads.
void TForm1::btnopenClick(TObject*)
{
    if (OpenDialog1->Execute()) {
        openFileName = OpenDialog1->FileName();
        openPending = true;
    }
}

void TForm1::btnendClick(TObject*)
{
    Close();
}

// Seeks to where the bar was moved and plays from there.
void TForm1::ScrollBar1Scroll(TObject*, TScrollCode, int&)
{
    MediaPlayer1->SetPosition(ScrollBar1->Position());
    Label1->SetText(IntToStr(MediaPlayer1->TrackLength(1)));
    ScrollBar1->SetMax(MediaPlayer1->TrackLength(1));
    MediaPlayer1->Play();
}

// Shows the position in the label and the scroll bar once the device has a
// file name.
void TForm1::Timer1Timer(TObject*)
{
    if (MediaPlayer1->FileName() == "")
        return;
    Label1->SetText(IntToStr(MediaPlayer1->Position()));
    ScrollBar1->SetPosition(MediaPlayer1->Position());
}
