#include "ClassRegistry.h"

#include <map>

#include "Dialogs.h"
#include "ExtCtrls.h"
#include "MPlayer.h"
#include "StdCtrls.h"

namespace {

template <class T>
TComponent* Make(TComponent* owner)
{
    return new T(owner);
}

} // namespace

TComponentFactory FindClass(const std::string& name)
{
    static const std::map<std::string, TComponentFactory> classes = {
        {"TButton", &Make<TButton>},       {"TEdit", &Make<TEdit>},
        {"TLabel", &Make<TLabel>},         {"TScrollBar", &Make<TScrollBar>},
        {"TTimer", &Make<TTimer>},         {"TOpenDialog", &Make<TOpenDialog>},
        {"TSaveDialog", &Make<TSaveDialog>}, {"TMediaPlayer", &Make<TMediaPlayer>},
    };
    const auto found = classes.find(name);
    return found == classes.end() ? nullptr : found->second;
}
