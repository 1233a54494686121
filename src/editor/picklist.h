// Drop-down lists whose value can only be picked, never typed: the time lists
// and the action of the editor, the address and port of the main window.
#pragma once

class QComboBox;

// Typed characters (Space included) and text committed by an input method never
// select an item, neither in the closed box nor in its open list. Arrow keys,
// Return, F4 and Space on the closed box (which opens the list) still work.
void MakePickOnly(QComboBox *combo);
