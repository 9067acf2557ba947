// Accessible names for a window's controls, so that a screen reader (and
// anything else on the accessibility bus) can tell them apart.
#pragma once

class QWidget;

namespace orvalle {

// Gives each control of `form` that a user can reach and that has no
// accessible name yet the caption of its label: the label whose buddy it
// is, else the label just before it in its layout (the item before it in a
// row or column of widgets, the label of a form row, the cell to its left in
// a grid or, failing that, the cell above it), which then becomes its buddy. A tab bar is named
// after the pages it switches. Call it once the form is built; names given explicitly stay.
void NameControls(QWidget *form);

} // namespace orvalle
