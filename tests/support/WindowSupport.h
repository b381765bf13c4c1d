#pragma once
// The real window on the offscreen platform, with SDL's disk driver as
// microphone and speaker, in a scratch working folder; and what a user does.
#include <QtTest>
#include <QtWidgets>

#include "TestSupport.h"
#include "Unit1.h"

namespace support {

using enum TransportModel::Button; // the transport bar's buttons

inline void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }
inline void ClickTransport(int button)
{
    QWidget* bar = Form1->MediaPlayer1->Widget();
    const int x = (2 * button + 1) * bar->width() / (2 * ButtonCount);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
}
inline QString Label() { return QString::fromUtf8(Form1->Label1->GetText().c_str()); }

// Clicks `button` and answers the file dialog it opens as a user would: types
// `answer` and confirms it, or cancels if it is empty; a dialog still open
// after that (a missing name, a folder) is cancelled. Says if a dialog opened.
inline bool Answer(TButton* button, const QString& answer)
{
    int seen = 0; // times the dialog was found open
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (qobject_cast<QMessageBox*>(modal) || (dialog && (seen++ || answer.isEmpty())))
            return modal->reject();
        if (dialog) { // confirmed from the event loop: accept() may open a message box this timer must answer
            dialog->selectFile(answer);
            QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
        }
    });
    timer.start(2);
    Click(button);
    return seen > 0;
}

// The window in a fresh working folder "w" with the template "test1.wav" and an earlier recording "Temp.wav";
// four seconds of noise as microphone, the speaker thrown away, a little faster than real time. Keeps errors shown.
struct Window {
    QTemporaryDir root;
    const QString work = QDir(root.path()).mkdir("w") ? QFileInfo(root.filePath("w")).canonicalFilePath() : "";
    const std::vector<short> mic = Noise(44100 * 4, 2, 9);
    QStringList errors;
    Window()
    {
        Application->Initialize();
        QDir::setCurrent(work);
        WriteSound(At("test1.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, Noise(4410, 2, 44100));
        WriteSound(At("Temp.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, Noise(22050, 1, 44100));
        WriteRaw(root.filePath("mic.raw"), mic);
        qputenv("SDL_DISKAUDIOFILEIN", root.filePath("mic.raw").toUtf8());
        qputenv("SDL_DISKAUDIOFILE", "/dev/null");
        qputenv("SDL_DISKAUDIODELAY", "5");
        Application->OnException = [this](TObject*, const Exception& e) { errors << e.Message.c_str(); };
        Application->CreateForm(Form1);
        Form1->Show();
    }
    ~Window()
    {
        delete std::exchange(Form1, nullptr);
        Application->OnException = nullptr;
        QDir::setCurrent(QDir::tempPath());
    }
    QString At(const QString& name) const { return work + "/" + name; }
    QString Entries() const // every name in the working folder, hidden ones first
    {
        return QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name).join(',');
    }
};

} // namespace support
