#pragma once

#include <QString>

class QWidget;

// Accessibility of the panel's painted views, which have no Qt control to speak for them.
namespace panelaccess {

// Hides a view that only draws (an icon, a gauge): it reports itself invisible, with no
// name and no role, so the view around it speaks for it. Call before the view is first queried.
void hide(QWidget* widget);

// Gives a painted element a spoken value beside its accessibleName (QAccessible::Value).
// Call it first in the constructor, before anything asks for the widget's element.
void setValue(QWidget* widget, const QString& value);

} // namespace panelaccess
