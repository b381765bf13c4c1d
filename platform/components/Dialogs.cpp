#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QScopeGuard>

using formstream::Property;

namespace {

// Qt's file dialog writes its history, sidebar and last folder into
// ~/.config/QtProject.conf, and flushes that file to disk, from its
// destructor. The QSettings it uses always has the native format
// (QSettings::setDefaultFormat does not reach it) and nothing turns it off.
// The program keeps no settings, so each kind of dialog is made once and
// never destroyed: it is hidden after use and shown again the next time.
QFileDialog& SharedDialog(bool save)
{
    static QFileDialog* dialogs[2] = {};
    QFileDialog*& dialog = dialogs[save ? 1 : 0];
    if (!dialog) {
        dialog = new QFileDialog;
        if (save) {
            dialog->setAcceptMode(QFileDialog::AcceptSave);
            dialog->setFileMode(QFileDialog::AnyFile);
            dialog->setOption(QFileDialog::DontConfirmOverwrite);
        } else {
            dialog->setAcceptMode(QFileDialog::AcceptOpen);
            dialog->setFileMode(QFileDialog::ExistingFile);
        }
    }
    return *dialog;
}

// Where the last dialog was closed. A new Qt file dialog opens there, so a
// reused one without a file to show goes there too.
QString lastFolder;

} // namespace

TCommonFileDialog::TCommonFileDialog(TComponent* Owner, bool save) : TComponent(Owner), save_(save) {}

bool TCommonFileDialog::Execute()
{
    QFileDialog& dialog = SharedDialog(save_);
    // Over the active window while it is shown, and on its own again after:
    // a dialog left inside a window would be destroyed with it. Until another
    // window takes over, the toolkit may still name a closed dialog as the
    // active window; then it goes over the same window as before.
    static QPointer<QWidget> over;
    if (QWidget* active = QApplication::activeWindow(); !qobject_cast<QFileDialog*>(active))
        over = active;
    const Qt::WindowFlags flags = dialog.windowFlags();
    dialog.setParent(over, flags);
    const auto detach = qScopeGuard([&] {
        lastFolder = dialog.directory().absolutePath();
        dialog.setParent(nullptr, flags);
    });
    if (!fileName_.IsEmpty()) {
        dialog.selectFile(QString::fromUtf8(fileName_.c_str()));
    } else {
        // As a new dialog: no name typed yet (what was typed before a cancel is gone).
        if (auto* name = dialog.findChild<QLineEdit*>("fileNameEdit"))
            name->clear();
        if (!lastFolder.isEmpty())
            dialog.setDirectory(lastFolder);
    }
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
