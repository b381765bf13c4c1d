#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QPixmapCache>
#include <QSettings>

#include "FileSystem.h"

using formstream::Property;

namespace {

// Qt's file dialog saves its history and last folder in the native settings
// format, and nothing turns that off. The program keeps no settings, so that
// format's files are placed where none can be made.
void KeepNoSettings()
{
    static const bool done = [] {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
        return true;
    }();
    (void)done;
}

} // namespace

TCommonFileDialog::TCommonFileDialog(TComponent* Owner, bool save) : TComponent(Owner), save_(save) {}

bool TCommonFileDialog::Execute()
{
    KeepNoSettings();
    QString chosen;
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
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().constFirst();
    }
    // The dialog's icons stay in the pixmap cache, and its folder model leaves
    // freed heap behind: megabytes the window would keep for as long as it runs.
    QPixmapCache::clear();
    sound::fs::ReturnFreedMemory();
    if (chosen.isEmpty())
        return false;
    fileName_ = AnsiString(QFileInfo(chosen).absoluteFilePath().toUtf8().toStdString());
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
