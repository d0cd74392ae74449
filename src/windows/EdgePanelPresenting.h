#pragma once

// What the coordinator needs of one edge panel.
class EdgePanelPresenting {
public:
    virtual ~EdgePanelPresenting() = default;
    // Brings the panel to the front without taking the focus.
    virtual void show() = 0;
    // Recomputes the frame for the current mode, profile count and screen, and
    // sets it at once when it differs.
    virtual void updateFrame() = 0;
    // Closes the panel for good.
    virtual void close() = 0;
};
