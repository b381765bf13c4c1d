#pragma once
// The recorder's one window.
#include "Dialogs.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "MPlayer.h"
#include "StdCtrls.h"

class TForm1 : public TForm {
public:
    // Set from the form definition when the window is built.
    TMediaPlayer* MediaPlayer1 = nullptr;
    TButton* btnrecord = nullptr;
    TButton* btnsave = nullptr;
    TButton* btnstop = nullptr;
    TButton* Play = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;
    TSaveDialog* SaveDialog1 = nullptr;
    TButton* btnopen = nullptr;
    TEdit* Edit1 = nullptr;
    TButton* btnend = nullptr;
    TScrollBar* ScrollBar1 = nullptr;
    TTimer* Timer1 = nullptr;
    TLabel* Label1 = nullptr;

    void btnrecordClick(TObject* Sender);
    void PlayClick(TObject* Sender);
    void btnstopClick(TObject* Sender);
    void btnsaveClick(TObject* Sender);
    void btnopenClick(TObject* Sender);
    void btnendClick(TObject* Sender);
    void ScrollBar1Scroll(TObject* Sender, TScrollCode ScrollCode, int& ScrollPos);
    void Timer1Timer(TObject* Sender);

    explicit TForm1(TComponent* Owner);
};

extern TForm1* Form1;

// The file last confirmed in the Open dialog, and whether Play has yet to
// load it.
extern AnsiString openFileName;
extern bool openPending;
