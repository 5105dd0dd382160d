#include "util/kvd_errors.h"

#include <typeinfo>

QString ErrorMessage(const std::exception& aError)
{
    if (const auto* own = dynamic_cast<const EkvdError*>(&aError))
        return own->Message();
    return QString::fromLocal8Bit(aError.what());
}

QString ErrorClassName(const std::exception& aError)
{
    if (const auto* own = dynamic_cast<const EkvdError*>(&aError))
        return own->ClassName();
    if (dynamic_cast<const std::bad_alloc*>(&aError))
        return QStringLiteral("EOutOfMemory");
    return QStringLiteral("Exception");
}
