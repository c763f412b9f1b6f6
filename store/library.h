// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/stringarray.h"

#include <QStringList>

class Defaults;

// The read operations on the script library that every controller shares.
namespace library {

// The names of the scripts in library order; empty when the key is missing or unusable.
QStringList returnAllNames(const Defaults &defaults);
// The bodies of the scripts in library order; empty when the key is missing or unusable.
QStringList returnAllScripts(const Defaults &defaults);
// The same, each body decoded only when read: what runs, shows and changes one script.
StringArray storedScripts(const Defaults &defaults);
// True when anything at all is stored under the key.
bool userAlreadyExist(const Defaults &defaults, const QString &kUsernameKey);

// Names are equal when they are canonically equivalent Unicode texts; nothing is trimmed.
bool sameName(const QString &a, const QString &b);

} // namespace library
