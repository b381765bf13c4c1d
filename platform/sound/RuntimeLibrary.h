#pragma once
// A shared library loaded when it is first needed rather than at start-up,
// and the functions looked up in it.
#include <QLibrary>

#include <initializer_list>
#include <string>
#include <utility>

namespace sound {

class RuntimeLibrary {
public:
    // Loads the first of `names` (file name, major version or -1) that loads;
    // `what` names the library in the failure.
    RuntimeLibrary(std::initializer_list<std::pair<const char*, int>> names, std::string what) : what_(std::move(what))
    {
        for (const auto& [name, version] : names) {
            library_.setFileNameAndVersion(name, version);
            if (library_.load())
                return;
        }
        failure_ = what_ + " cannot be loaded (" + library_.errorString().toStdString() + ")";
    }
    // Looks `symbol` up into `function`; the first one missing is the failure.
    template <class Function>
    void Resolve(Function& function, const char* symbol)
    {
        if (!failure_.empty())
            return;
        function = reinterpret_cast<Function>(library_.resolve(symbol));
        if (!function)
            failure_ = what_ + " cannot be loaded (it has no " + symbol + ")";
    }
    // Why the library cannot be used; empty when it can.
    const std::string& Failure() const { return failure_; }

private:
    QLibrary library_; // not unloaded when this goes: the functions stay valid
    std::string what_, failure_;
};

} // namespace sound
