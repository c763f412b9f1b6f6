// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes popups (the preview, menus) children of the application in the accessibility tree, as
// every other window is; Qt leaves them out, so a screen reader could reach them only by focus.
void listPopupsInAccessibleTree();
