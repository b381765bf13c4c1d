#pragma once
// The component classes a form definition can name, by class name.
#include <string>

class TComponent;

using TComponentFactory = TComponent* (*)(TComponent* owner);

// What makes a component of the class `name`, owned by the owner it is
// given; null when no class of that name is registered.
TComponentFactory FindClass(const std::string& name);
