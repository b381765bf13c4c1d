#pragma once
// The application object and the form: a top-level window built from the
// form definition embedded under its class name in capitals.
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "Controls.h"
#include "Exception.h"
#include "Published.h"

class QWidget;
class QApplication;
class TForm;

class TForm : public TComponent {
public:
    explicit TForm(TComponent* Owner);
    ~TForm() override;

    QWidget* Widget() const;
    void Close();
    void Show();

    AnsiString Caption() const;
    // Outer frame position and size, as the definition gives them.
    int Left = 0, Top = 0, Width = 0, Height = 0;
    TFontSpec Font;

    void SetProperty(const formstream::Property& p) override;

protected:
    // Builds every component of the form definition stored as the resource
    // `resourceName`, sets their properties and binds their events
    // (FormReader.cpp).
    void ReadForm(const std::string& className, const std::string& resourceName, const TPublished& published);

private:
    friend class TApplication;
    class Window;
    Window* window_;
    std::function<void()> onClose_;
};

using TExceptionEvent = std::function<void(TObject* Sender, const Exception& E)>;

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    void Initialize();
    // Creates the form, stores it in `reference`; the first one becomes the
    // main form, whose closing ends Run.
    template <class T>
    void CreateForm(T*& reference)
    {
        reference = nullptr;
        T* form = new T(this);
        reference = form;
        AddForm(form);
    }
    // Shows the main form and runs the message loop until it closes. An error
    // other than an Exception that a handler raised is thrown again here.
    void Run();
    // Shows an error's message in the platform's error box.
    void ShowException(const Exception* E);
    // Shows something the user should know, that is no error, in a box.
    void ShowInformation(const AnsiString& text);
    // Called for an Exception raised by an event handler: OnException if set,
    // otherwise ShowException.
    void HandleException(const Exception& E);
    // Stores an error other than an Exception and ends the message loop.
    void Terminate(std::exception_ptr error);

    TForm* MainForm() const { return mainForm_; }
    AnsiString Title = "Recorder";
    TExceptionEvent OnException;

private:
    void AddForm(TForm* form);
    std::unique_ptr<QApplication> ownQt_;
    TForm* mainForm_ = nullptr;
    std::exception_ptr pendingError_;
};

extern TApplication* Application;
