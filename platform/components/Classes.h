#pragma once
// The component model: objects owned by components, events bound to handlers
// by name, and the property interface the form reader drives.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AnsiString.h"
#include "FormStream.h"

class TObject {
public:
    virtual ~TObject() = default;
};

enum TScrollCode { scLineUp, scLineDown, scPageUp, scPageDown, scPosition, scTrack, scTop, scBottom, scEndScroll };

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TScrollEvent = std::function<void(TObject* Sender, TScrollCode ScrollCode, int& ScrollPos)>;

// A handler a form publishes under its name, for event bindings in a form
// definition.
struct TMethod {
    TNotifyEvent notify;
    TScrollEvent scroll;
};

// A component owns the components created with it as their owner and
// destroys them, last created first, when it is destroyed.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* Owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    AnsiString Name;
    TComponent* Owner() const { return owner_; }

    // Sets one property read from a form definition. Throws Exception when the
    // class has no such property or the value has the wrong type.
    virtual void SetProperty(const formstream::Property& property);
    // Binds an event read from a form definition to a published handler.
    virtual void SetEvent(const std::string& event, const TMethod& handler);

protected:
    // Destroys the owned components, last created first.
    void DestroyComponents();

    // Helpers for SetProperty implementations: the value as the type the
    // property takes, or an Exception naming the property.
    static int IntValue(const formstream::Property& p);
    static bool BoolValue(const formstream::Property& p);
    static std::string TextValue(const formstream::Property& p);
    static std::string IdentValue(const formstream::Property& p);
    [[noreturn]] void UnknownProperty(const formstream::Property& p) const;

private:
    TComponent* owner_;
    std::vector<TComponent*> owned_;
};

// Runs one event handler on behalf of the message loop. An Exception is shown
// and the loop goes on; any other error ends the loop and leaves Run.
void DispatchEvent(const std::function<void()>& handler);
