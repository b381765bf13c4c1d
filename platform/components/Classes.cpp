#include "Classes.h"

#include <algorithm>

#include "Exception.h"

using formstream::Property;
using formstream::Value;

TComponent::TComponent(TComponent* Owner) : owner_(Owner)
{
    if (owner_)
        owner_->owned_.push_back(this);
}

TComponent::~TComponent()
{
    DestroyComponents();
    if (owner_) {
        auto& siblings = owner_->owned_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TComponent::DestroyComponents()
{
    while (!owned_.empty()) {
        TComponent* last = owned_.back();
        owned_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
}

void TComponent::SetProperty(const Property& p)
{
    if (p.name == "Name")
        return; // the name comes from the object header
    UnknownProperty(p);
}

void TComponent::SetEvent(const std::string& event, const TMethod&)
{
    throw Exception("Component " + Name + " has no event " + AnsiString(event));
}

static Exception WrongType(const Property& p, const char* wanted)
{
    return Exception("Property " + AnsiString(p.name) + " takes " + AnsiString(wanted) + ", not " +
                     AnsiString(formstream::TypeName(p.value.type)));
}

int TComponent::IntValue(const Property& p)
{
    if (p.value.type != Value::Type::Integer)
        throw WrongType(p, "an integer");
    if (p.value.integer < INT32_MIN || p.value.integer > INT32_MAX)
        throw Exception("Property " + AnsiString(p.name) + " is out of range");
    return static_cast<int>(p.value.integer);
}

bool TComponent::BoolValue(const Property& p)
{
    if (p.value.type != Value::Type::Boolean)
        throw WrongType(p, "True or False");
    return p.value.boolean;
}

std::string TComponent::TextValue(const Property& p)
{
    if (p.value.type != Value::Type::String)
        throw WrongType(p, "a string");
    return p.value.text;
}

std::string TComponent::IdentValue(const Property& p)
{
    if (p.value.type != Value::Type::Identifier)
        throw WrongType(p, "an identifier");
    return p.value.text;
}

void TComponent::UnknownProperty(const Property& p) const
{
    throw Exception("Component " + Name + " has no property " + AnsiString(p.name));
}
