// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The user's home folder: $HOME, or, when it is unset or empty (service managers and `env -i`
// start programs so), the home folder of the user's account entry, as the XDG tools find it.
QString homeFolder();
