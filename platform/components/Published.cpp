#include "Published.h"

#include "Exception.h"

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
