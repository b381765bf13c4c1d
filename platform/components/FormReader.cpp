// Builds a form from its definition: walks the binary form stream stored as
// a resource, creates each component by class name, sets its properties and
// binds its events to the handlers the form publishes. It is TForm's, kept
// apart so that the form itself knows no component class.
#include "Forms.h"

#include <QWidget>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>
#include <vector>

#include "ClassRegistry.h"
#include "Resources.h"

using formstream::Property;

namespace {

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
        const TComponentFactory make = FindClass(child.className);
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
            control->Widget()->setParent(Widget());
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

    ApplyFont(Widget(), Font);
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
