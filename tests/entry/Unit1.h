#pragma once
// A stand-in for the real window, built with the real entry point, so the
// entry's error paths can be driven from a test. ENTRY_MODE picks the fault.
#include "Forms.h"

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* Owner);
};

extern TForm1* Form1;
