// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Lives across the construction of the QApplication. When the windowing system cannot be
// reached, the process ends at once with one clear line on standard error and status 1,
// instead of Qt's abort.
class DisplayGuard {
public:
    DisplayGuard();
    ~DisplayGuard();
    DisplayGuard(const DisplayGuard &) = delete;
    DisplayGuard &operator=(const DisplayGuard &) = delete;
};
