#include "store/library.h"

#include "store/defaults.h"
#include "store/keys.h"

namespace library {

QStringList returnAllNames(const Defaults &defaults)
{
    return defaults.stringArrayForKey(all_scripts_name).value_or(QStringList{});
}

QStringList returnAllScripts(const Defaults &defaults)
{
    return defaults.stringArrayForKey(all_scripts).value_or(QStringList{});
}

bool userAlreadyExist(const Defaults &defaults, const QString &kUsernameKey)
{
    return defaults.contains(kUsernameKey);
}

bool sameName(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

} // namespace library
