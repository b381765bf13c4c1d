#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

using formstream::Property;

TCommonFileDialog::TCommonFileDialog(TComponent* Owner, bool save) : TComponent(Owner), save_(save) {}

bool TCommonFileDialog::Execute()
{
    QFileDialog dialog(QApplication::activeWindow());
    if (save_) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!fileName_.IsEmpty())
        dialog.selectFile(QString::fromUtf8(fileName_.c_str()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName_ = AnsiString(QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath().toUtf8().toStdString());
    return true;
}

void TCommonFileDialog::SetProperty(const Property& p)
{
    if (p.name == "FileName")
        fileName_ = TextValue(p);
    else if (p.name == "Left" || p.name == "Top")
        (void)IntValue(p); // where the designer showed it; nothing uses it
    else
        TComponent::SetProperty(p);
}
