// The application object: starting the toolkit, the message loop, and
// showing errors and notices in message boxes.
#include "Forms.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <cstdio>

#include "DisplayCheck.h"
#include "Resources.h"
#include "ToolkitStartup.h"
#include "XpmIcon.h"

// Never destroyed: the toolkit must outlive every window, and a process that
// ends takes both with it.
TApplication* Application = new TApplication;

void DispatchEvent(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Exception& e) {
        Application->HandleException(e);
    } catch (...) {
        Application->Terminate(std::current_exception());
    }
}

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() = default;

void TApplication::Initialize()
{
    if (!QApplication::instance()) {
        // Without a display the toolkit would abort: say so plainly instead.
        CheckDisplay();
        // Built from the program's name alone: no command-line argument,
        // the toolkit's own included, has any effect.
        static int argc = 1;
        static char name[] = "recorder";
        static char* argv[] = {name, nullptr};
        const DisplayStartup held;
        const ToolkitStartup warmUp;
        ownQt_ = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setDesktopFileName("io.github.recorder.Recorder"); // ties the window to its desktop entry
    // The design's face; where it is missing, the nearest sans face stands in.
    QFont::insertSubstitutions("MS Sans Serif", {"Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"});
    if (HasResource("MAINICON"))
        QApplication::setWindowIcon(QIcon(IconFromXpm(LoadResource("MAINICON"))));
}

void TApplication::AddForm(TForm* form)
{
    if (mainForm_)
        return;
    mainForm_ = form;
    form->onClose_ = [] { QCoreApplication::exit(0); };
}

void TApplication::Run()
{
    if (!mainForm_)
        return;
    mainForm_->Show();
    QApplication::exec();
    // The windows go now, while the toolkit is fully alive.
    mainForm_ = nullptr;
    DestroyComponents();
    if (pendingError_) {
        std::exception_ptr error = pendingError_;
        pendingError_ = nullptr;
        std::rethrow_exception(error);
    }
}

// `text` with a zero-width space, where a line may break, after each '/'
// and every 24 characters in a run without spaces longer than 40, such as a
// long file name. Shorter runs, and so most messages, are left as they are.
static QString WithLineBreaks(const QString& text)
{
    constexpr int kLongRun = 40, kEvery = 24;
    const QChar zeroWidthSpace(0x200B);
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        qsizetype end = i;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        if (end - i <= kLongRun) {
            out += text.mid(i, end - i);
        } else {
            for (int sinceBreak = 0; i < end; ++i) {
                out += text[i];
                if (text[i] == '/' || ++sinceBreak == kEvery) {
                    out += zeroWidthSpace;
                    sinceBreak = 0;
                }
            }
        }
        for (i = end; i < text.size() && text[i].isSpace(); ++i)
            out += text[i];
    }
    return out;
}

// A message box over the active window, or a line on stderr without a
// toolkit to show one.
static void ShowBox(QMessageBox::Icon icon, const AnsiString& title, const QString& message)
{
    if (!QApplication::instance()) {
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        return;
    }
    QMessageBox box(icon, QString::fromUtf8(title.c_str()), message, QMessageBox::Ok, QApplication::activeWindow());
    // The box wraps its text only at spaces, so a long file name would run
    // past its edge: the label shows it with places to break, and screen
    // readers get the message as it is.
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        const QString shown = WithLineBreaks(message);
        if (shown != message) {
            label->setText(shown);
            label->setAccessibleName(message);
        }
    }
    box.exec();
}

void TApplication::ShowException(const Exception* E)
{
    ShowBox(QMessageBox::Critical, Title, QString::fromUtf8(E ? E->Message.c_str() : ""));
}

void TApplication::ShowInformation(const AnsiString& text)
{
    ShowBox(QMessageBox::Information, Title, QString::fromUtf8(text.c_str()));
}

void TApplication::HandleException(const Exception& E)
{
    if (OnException) {
        try {
            OnException(this, E);
        } catch (...) {
            Terminate(std::current_exception());
        }
    } else {
        ShowException(&E);
    }
}

void TApplication::Terminate(std::exception_ptr error)
{
    if (!pendingError_)
        pendingError_ = error;
    QCoreApplication::exit(0);
}
