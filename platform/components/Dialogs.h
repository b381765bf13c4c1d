#pragma once
// The file dialogs. Execute shows one modally and reports whether the user
// confirmed a file; FileName is then its full path, and keeps its last
// confirmed value when the user cancels.
#include "Classes.h"

class TCommonFileDialog : public TComponent {
public:
    AnsiString FileName() const { return fileName_; }
    void SetFileName(const AnsiString& name) { fileName_ = name; }
    bool Execute();
    void SetProperty(const formstream::Property& p) override;

protected:
    TCommonFileDialog(TComponent* Owner, bool save);

private:
    bool save_;
    AnsiString fileName_;
};

class TOpenDialog : public TCommonFileDialog {
public:
    explicit TOpenDialog(TComponent* Owner) : TCommonFileDialog(Owner, false) {}
};

// Asks no overwrite question: choosing a name writes nothing.
class TSaveDialog : public TCommonFileDialog {
public:
    explicit TSaveDialog(TComponent* Owner) : TCommonFileDialog(Owner, true) {}
};
