#pragma once
// What a form publishes by name so that its definition can be bound to it:
// the members that receive the created components, and the event handlers.
// C++ has no reflection, so the window lists them in a table.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Classes.h"

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
