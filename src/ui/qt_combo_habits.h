// SPDX-License-Identifier: MIT
#pragma once
// Habits of the desktop the windows were designed on, for combo boxes: the mouse wheel only
// turns the box that has the focus, and an editable box keeps exactly what was typed (Qt's
// completer would complete inline and, when editing ends, swap the text for an item that
// matches it case-blind: "odd" would become "ODD").

class QComboBox;

void keepTypedText(QComboBox* box);
void wheelOnlyWithFocus(QComboBox* box);
