#pragma once
// Helpers shared by the robustness tests: the real window on the offscreen
// platform, scratch folders, sound files made and checked with libsndfile,
// and an answerer for the modal dialogs the window opens.
#include <sndfile.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

#include "Unit1.h"

namespace robust {

inline QString Str(const AnsiString& s) { return QString::fromUtf8(s.c_str()); }

inline void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Noise that is never zero, so sound is easy to tell from silence.
inline std::vector<short> Noise(std::int64_t frames, int channels, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<short> s(static_cast<size_t>(frames * channels));
    for (auto& v : s)
        v = short(int(random() % 20000) - 10000) | 1;
    return s;
}

// Writes `frames` frames of noise in any format libsndfile can write.
inline void WriteSound(const QString& path, int format, int rate, int channels, std::int64_t frames, unsigned seed = 1)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_WRITE, &info);
    if (!f)
        qFatal("cannot write %s: %s", qPrintable(path), sf_strerror(nullptr));
    const std::vector<short> s = Noise(frames, channels, seed);
    sf_writef_short(f, s.data(), frames);
    sf_close(f);
}

inline void WriteWav(const QString& path, int channels, std::int64_t frames, int rate = 44100, unsigned seed = 1)
{
    WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, channels, frames, seed);
}

struct SoundInfo {
    bool readable = false; // opened, and read to the end its header gives
    std::int64_t frames = 0;
    int rate = 0, channels = 0;
    std::vector<short> samples;
};

// Opens `path` with libsndfile and reads every frame its header promises.
inline SoundInfo ReadSound(const QString& path)
{
    SoundInfo r;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_READ, &info);
    if (!f)
        return r;
    r.frames = info.frames;
    r.rate = info.samplerate;
    r.channels = info.channels;
    r.samples.resize(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_short(f, r.samples.data(), info.frames);
    short extra[64];
    r.readable = got == info.frames && sf_readf_short(f, extra, 1) == 0 && sf_error(f) == SF_ERR_NO_ERROR;
    sf_close(f);
    return r;
}

inline bool IsValidWav(const QString& path)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toUtf8().constData(), SFM_READ, &info);
    if (!f)
        return false;
    const bool wav = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV ||
                     (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAVEX;
    sf_close(f);
    return wav && ReadSound(path).readable;
}

// Answers the modal dialogs opened while it lives. The first file dialog
// gets `answer` typed into it and confirmed, as a user would (an empty
// answer cancels); if the dialog stays open after that (a missing file, a
// folder), it is cancelled. Message boxes the dialog itself raises are
// dismissed and counted.
class DialogAnswerer {
public:
    explicit DialogAnswerer(QString answer) : answer_(std::move(answer))
    {
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Step(); });
        timer_.start();
    }
    int dialogsSeen() const { return dialogs_; }
    int warningsSeen() const { return warnings_; }

private:
    void Step()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ++warnings_;
            box->reject();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        if (dialog != current_) {
            current_ = dialog;
            ++dialogs_;
            if (answer_.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->selectFile(answer_);
            // Confirmed from the event loop, not from here: accept() checks the
            // name as the OK button does and may open a message box, which this
            // timer must be free to answer.
            QMetaObject::invokeMethod(dialog, [dialog] { static_cast<QDialog*>(dialog)->accept(); },
                                      Qt::QueuedConnection);
            return;
        }
        dialog->reject(); // still open after the answer: give up on it
    }

    QString answer_;
    QTimer timer_;
    QPointer<QFileDialog> current_;
    int dialogs_ = 0, warnings_ = 0;
};

// Resident memory of this process in bytes.
inline long long ResidentBytes()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : 0;
}

// The window's errors, captured as the application object would show them.
class ErrorLog {
public:
    ErrorLog()
    {
        // RECORDER_SHOW_ERRORS=1 prints each error as the window shows it.
        static const bool show = qEnvironmentVariableIsSet("RECORDER_SHOW_ERRORS");
        Application->OnException = [this](TObject*, const Exception& e) {
            messages << Str(e.Message);
            if (show)
                std::printf("error shown: %s\n", e.Message.c_str());
        };
    }
    ~ErrorLog() { Application->OnException = nullptr; }
    QStringList messages;
    QString Joined() const { return messages.join(" | "); }
};

inline void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }

// Presses one of the transport bar's buttons with the mouse, at its centre.
inline void ClickTransport(TMediaPlayer* player, int button)
{
    QWidget* bar = player->Widget();
    const int x = (2 * button + 1) * bar->width() / (2 * TMediaPlayer::ButtonCount);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2));
}

} // namespace robust
