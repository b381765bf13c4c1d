#pragma once
// The application object and the form: a top-level window built from the
// form definition embedded under its class name in capitals.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "Exception.h"

class QWidget;
class QApplication;
class TForm;

// What a form publishes by name so that its definition can be bound to it:
// the members that receive the created components, and the event handlers.
class TPublished {
public:
    template <class T>
    TPublished& Field(const std::string& name, T*& member)
    {
        fields_.push_back({name, [&member](TComponent* c) {
                               T* typed = dynamic_cast<T*>(c);
                               if (typed)
                                   member = typed;
                               return typed != nullptr;
                           }});
        return *this;
    }
    TPublished& Method(const std::string& name, TNotifyEvent handler);
    TPublished& Method(const std::string& name, TScrollEvent handler);

    // Stores `component` in the member published as `name`; throws an
    // Exception when there is none or its class does not fit.
    void Assign(const std::string& name, const std::string& className, TComponent* component) const;
    // The names of the published members.
    std::vector<std::string> FieldNames() const;
    // The handler published as `name`; throws an Exception when there is none.
    const TMethod& FindMethod(const std::string& name) const;

private:
    struct FieldEntry {
        std::string name;
        std::function<bool(TComponent*)> assign;
    };
    std::vector<FieldEntry> fields_;
    std::vector<std::pair<std::string, TMethod>> methods_;
};

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
    // `resourceName`, sets their properties and binds their events.
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
