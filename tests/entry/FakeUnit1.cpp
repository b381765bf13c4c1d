#include "Unit1.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "ExtCtrls.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(TComponent* Owner) : TForm(Owner)
{
    // Answers every error box, printing its text, so that no box waits for a user.
    auto* watcher = new QTimer(qApp);
    QObject::connect(watcher, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("BOX:[%s]\n", box->text().toUtf8().constData());
            std::fflush(stdout);
            box->accept();
        }
    });
    watcher->start(20);
    const std::string mode = std::getenv("ENTRY_MODE") ? std::getenv("ENTRY_MODE") : "";
    if (mode == "construct-exception")
        throw Exception("The window could not be built");
    if (mode == "construct-other")
        throw std::runtime_error("not an Exception");

    auto* timer = new TTimer(this);
    timer->SetInterval(30);
    auto ticks = std::make_shared<int>(0);
    timer->OnTimer = [this, mode, ticks](TObject*) {
        ++*ticks;
        std::printf("TICK %d\n", *ticks);
        std::fflush(stdout);
        if (mode == "handler-exception" && *ticks == 1)
            throw Exception("A handler failed");
        if (mode == "loop-other" && *ticks == 1)
            throw std::logic_error("not an Exception");
        if (mode == "close-box" && *ticks == 2)
            Widget()->close(); // what the window's close box does
        if (*ticks == 3)
            Close();
    };
}
