#include "Resources.h"

#include <QFile>

#include "Exception.h"

bool HasResource(const std::string& name)
{
    return QFile::exists(":/" + QString::fromStdString(name));
}

std::string LoadResource(const std::string& name)
{
    QFile file(":/" + QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly))
        throw Exception("The program has no resource " + AnsiString(name));
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
