#include "Forms.h"

#include "DisplayCheck.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include <fontconfig/fontconfig.h>

#include "Dialogs.h"
#include "ExtCtrls.h"
#include "MPlayer.h"
#include "Resources.h"
#include "StdCtrls.h"

using formstream::Property;

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

// ---- TPublished

TPublished& TPublished::Method(const std::string& name, TNotifyEvent handler)
{
    methods_.push_back({name, TMethod{std::move(handler), {}}});
    return *this;
}

TPublished& TPublished::Method(const std::string& name, TScrollEvent handler)
{
    methods_.push_back({name, TMethod{{}, std::move(handler)}});
    return *this;
}

void TPublished::Assign(const std::string& name, const std::string& className, TComponent* component) const
{
    for (const FieldEntry& field : fields_) {
        if (field.name != name)
            continue;
        if (!field.assign(component))
            throw Exception("The window's member " + AnsiString(name) + " cannot hold a " + AnsiString(className));
        return;
    }
    throw Exception("The window has no member " + AnsiString(name));
}

std::vector<std::string> TPublished::FieldNames() const
{
    std::vector<std::string> names;
    for (const FieldEntry& field : fields_)
        names.push_back(field.name);
    return names;
}

const TMethod& TPublished::FindMethod(const std::string& name) const
{
    for (const auto& [methodName, method] : methods_)
        if (methodName == name)
            return method;
    throw Exception("The window has no handler " + AnsiString(name));
}

// ---- TForm

class TForm::Window : public QWidget {
public:
    explicit Window(TForm* form) : form_(form) {}

    // The definition gives the outer frame; the frame's size is known only
    // once the window manager has framed the window, so the client area is
    // fitted then, once. Later moves and resizes are the user's. A window
    // manager that draws no frame, or none at all, leaves the frame empty:
    // by the time the window is first painted it has been mapped, so the
    // window manager has answered, and the fit is final whatever the frame.
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

namespace {

using Factory = TComponent* (*)(TComponent* owner);

template <class T>
TComponent* Make(TComponent* owner)
{
    return new T(owner);
}

Factory FindClass(const std::string& name)
{
    static const std::map<std::string, Factory> classes = {
        {"TButton", &Make<TButton>},       {"TEdit", &Make<TEdit>},
        {"TLabel", &Make<TLabel>},         {"TScrollBar", &Make<TScrollBar>},
        {"TTimer", &Make<TTimer>},         {"TOpenDialog", &Make<TOpenDialog>},
        {"TSaveDialog", &Make<TSaveDialog>}, {"TMediaPlayer", &Make<TMediaPlayer>},
    };
    const auto found = classes.find(name);
    return found == classes.end() ? nullptr : found->second;
}

bool IsEvent(const std::string& property)
{
    return property.size() > 2 && property.compare(0, 2, "On") == 0 && std::isupper(static_cast<unsigned char>(property[2]));
}

void Apply(TComponent* component, const Property& p, const TPublished& published)
{
    if (!IsEvent(p.name))
        return component->SetProperty(p);
    if (p.value.type != formstream::Value::Type::Identifier)
        throw Exception("Event " + AnsiString(p.name) + " must name a handler");
    component->SetEvent(p.name, published.FindMethod(p.value.text));
}

std::string Where(const std::string& resource, std::size_t offset)
{
    return "Cannot build the window from resource " + resource + " (byte " + std::to_string(offset) + "): ";
}

} // namespace

void TForm::ReadForm(const std::string& className, const std::string& resourceName, const TPublished& published)
{
    const formstream::Object root = formstream::ReadBinary(LoadResource(resourceName), resourceName);
    if (root.className != className)
        throw Exception(Where(resourceName, root.where) + "it describes a " + AnsiString(root.className) + ", not a " +
                        AnsiString(className));
    Name = root.name;
    for (const Property& p : root.properties) {
        try {
            Apply(this, p, published);
        } catch (const Exception& e) {
            throw Exception(Where(resourceName, p.where) + Name + "." + AnsiString(p.name) + ": " + e.Message);
        }
    }

    std::vector<TControl*> controls;
    std::vector<std::string> created;
    for (const formstream::Object& child : root.children) {
        if (std::find(created.begin(), created.end(), child.name) != created.end())
            throw Exception(Where(resourceName, child.where) + "a second component named " + AnsiString(child.name));
        created.push_back(child.name);
        const Factory make = FindClass(child.className);
        if (!make)
            throw Exception(Where(resourceName, child.where) + "unknown class " + AnsiString(child.className) +
                            " of " + AnsiString(child.name));
        TComponent* component = make(this);
        component->Name = child.name;
        try {
            published.Assign(child.name, child.className, component);
        } catch (const Exception& e) {
            throw Exception(Where(resourceName, child.where) + e.Message);
        }
        if (!child.children.empty())
            throw Exception(Where(resourceName, child.where) + AnsiString(child.name) + " cannot hold other components");
        auto* control = dynamic_cast<TControl*>(component);
        if (control) {
            control->Widget()->setParent(window_);
            controls.push_back(control);
        }
        for (const Property& p : child.properties) {
            try {
                Apply(component, p, published);
            } catch (const Exception& e) {
                throw Exception(Where(resourceName, p.where) + AnsiString(child.name) + "." + AnsiString(p.name) +
                                ": " + e.Message);
            }
        }
    }

    for (const std::string& member : published.FieldNames())
        if (std::find(created.begin(), created.end(), member) == created.end())
            throw Exception("Cannot build the window from resource " + AnsiString(resourceName) +
                            ": it has no component " + AnsiString(member));

    ApplyFont(window_, Font);
    for (TControl* control : controls)
        control->Loaded(Font);

    // Tab follows the definition's TabOrder numbers, not the creation order.
    std::vector<TControl*> tabStops;
    std::copy_if(controls.begin(), controls.end(), std::back_inserter(tabStops),
                 [](TControl* c) { return c->TabOrder >= 0; });
    std::stable_sort(tabStops.begin(), tabStops.end(), [](TControl* a, TControl* b) { return a->TabOrder < b->TabOrder; });
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1]->Widget(), tabStops[i]->Widget());
    if (!tabStops.empty())
        tabStops.front()->Widget()->setFocus();
}

// ---- TApplication

namespace {

// The program's icon is an XPM. Its rows, the quoted strings of the file, go
// straight to Qt's built-in XPM reader: reading the file as an image would
// first load every image-format plugin, which costs a tenth of the start-up.
QPixmap IconFromXpm(const std::string& text)
{
    std::vector<std::string> rows;
    for (std::size_t open = text.find('"'); open != std::string::npos; open = text.find('"', open)) {
        const std::size_t close = text.find('"', open + 1);
        if (close == std::string::npos)
            break;
        rows.push_back(text.substr(open + 1, close - open - 1));
        open = close + 1;
    }
    std::vector<const char*> lines;
    for (const std::string& row : rows)
        lines.push_back(row.c_str());
    return lines.empty() ? QPixmap() : QPixmap(lines.data());
}

} // namespace

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
        // On X, shared memory makes every repaint wait for the server before
        // it starts and wake the program again when the server is done. The
        // window's repaints are small (the position, the scroll bar), so
        // sending their pixels costs less. The user's own setting wins.
        if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
            qputenv("QT_XCB_NO_MITSHM", "1");
        // Reading the font configuration is a third of the start-up, and the
        // toolkit does it when the form first measures a text. Done on another
        // core while the toolkit connects to the display, it is ready by then.
        const std::jthread fonts([] { FcInit(); });
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
