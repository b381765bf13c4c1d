#include "Forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QWidget>
#include <algorithm>

using formstream::Property;

class TForm::Window : public QWidget {
public:
    explicit Window(TForm* form) : form_(form) {}

    // The definition gives the outer frame, whose size is known only once the
    // window manager has framed the window: the client area is fitted then,
    // once, or at the first paint when no frame comes; later sizes are the user's.
    void FitFrame()
    {
        if (fitted_ || form_->Width <= 0 || form_->Height <= 0)
            return;
        const QSize frame = frameGeometry().size() - geometry().size();
        const QSize client(std::max(1, form_->Width - frame.width()), std::max(1, form_->Height - frame.height()));
        if (size() != client)
            resize(client);
        fitted_ = !frame.isNull() || mapped_;
    }

protected:
    bool event(QEvent* e) override
    {
        const bool result = QWidget::event(e);
        if (e->type() == QEvent::Show || e->type() == QEvent::Move || e->type() == QEvent::Resize)
            FitFrame();
        return result;
    }
    void paintEvent(QPaintEvent* e) override
    {
        QWidget::paintEvent(e);
        if (!fitted_ && !mapped_) {
            mapped_ = true;
            // Not from inside the paint: a resize there would be lost.
            QMetaObject::invokeMethod(this, [this] { FitFrame(); }, Qt::QueuedConnection);
        }
    }
    void closeEvent(QCloseEvent* e) override
    {
        e->accept();
        if (form_->onClose_)
            form_->onClose_();
    }

private:
    TForm* form_;
    bool fitted_ = false;
    bool mapped_ = false; // painted once, so shown on the screen
};

TForm::TForm(TComponent* Owner) : TComponent(Owner), window_(new Window(this))
{
    window_->setAutoFillBackground(true);
}

TForm::~TForm()
{
    DestroyComponents(); // the controls' widgets go before their window
    delete window_;
}

QWidget* TForm::Widget() const { return window_; }

void TForm::Close() { window_->close(); }

void TForm::Show()
{
    window_->show();
    window_->raise();
    window_->activateWindow();
}

AnsiString TForm::Caption() const { return AnsiString(window_->windowTitle().toUtf8().toStdString()); }

void TForm::SetProperty(const Property& p)
{
    const std::string& n = p.name;
    if (n == "Left" || n == "Top") {
        (n == "Left" ? Left : Top) = IntValue(p);
        window_->move(Left, Top);
    } else if (n == "Width" || n == "Height") {
        const int value = IntValue(p);
        if (value < 1 || value > 100000)
            throw Exception("Property " + AnsiString(n) + " is out of range");
        (n == "Width" ? Width : Height) = value;
        window_->resize(Width, Height);
    } else if (n == "Caption") {
        window_->setWindowTitle(QString::fromUtf8(TextValue(p).c_str()));
    } else if (n == "Color") {
        const std::string color = IdentValue(p);
        if (color != "clBtnFace" && color != "clWindow")
            throw Exception("Property Color has an unknown colour " + AnsiString(color));
        QPalette palette = window_->palette();
        palette.setColor(QPalette::Window,
                         QApplication::palette().color(color == "clBtnFace" ? QPalette::Button : QPalette::Base));
        window_->setPalette(palette);
    } else if (n == "PixelsPerInch" || n == "TextHeight") {
        (void)IntValue(p); // the design's screen; sizes are in pixels already
    } else if (n == "OldCreateOrder") {
        (void)BoolValue(p);
    } else if (!Font.Set(p)) {
        TComponent::SetProperty(p);
    }
}
