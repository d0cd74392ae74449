#pragma once

#include <QEasingCurve>

class QVariantAnimation;

// The panel's motion: one critically damped spring (every spring here has
// damping 1, so one normalised curve serves every response), the ease-in-ease-out
// Bezier (0.42, 0, 0.58, 1), and the Reduce Motion switch.
namespace motion {

// Mode changes of the panel and its window frames.
constexpr double kPanelResponse = 0.28;
// Gauges and badges.
constexpr double kGaugeResponse = 0.65;

// Position (0 to 1) of a critically damped spring of `response` seconds, `t` seconds after it started.
double spring(double t, double response);
// Seconds after which a spring of `response` is within 0.1 % of its target: its animation's duration.
double springSettleTime(double response);
// The spring as an easing curve over its settle time.
QEasingCurve springCurve();

// The cubic Bezier (0.42, 0, 0.58, 1) at progress `t` in 0...1.
double easeInOut(double t);
QEasingCurve easeInOutCurve();

// Reduce Motion: off unless the desktop says otherwise; injected by tests and the shell.
bool reduceMotion();
void setReduceMotion(bool on);

// Configures `animation` as a spring of `response` (duration and curve), or as
// an instant jump when Reduce Motion is on.
void configureSpring(QVariantAnimation& animation, double response);
// Configures `animation` as the ease-in-ease-out over `seconds`, or instant under Reduce Motion.
void configureEase(QVariantAnimation& animation, double seconds);

} // namespace motion
