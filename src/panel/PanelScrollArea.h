#pragma once

class QScrollArea;
class QWidget;

// A frameless, see-through scroll area with no scroll bars, for the panel's
// lists: the panel background shows through and scrolling is by wheel.
QScrollArea* makePanelScrollArea(QWidget* parent);
