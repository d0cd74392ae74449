#include "Motion.h"

#include <QVariantAnimation>

#include <cmath>
#include <numbers>

namespace motion {

namespace {

// Where a normalised critically damped spring, omega*t = kSettle, is within 0.1 % of its target.
constexpr double kSettle = 9.2334;

double normalisedSpring(double x)
{
    return 1.0 - (1.0 + x) * std::exp(-x);
}

// The spring over its settle time, scaled so it ends exactly at 1.
qreal springEasing(qreal progress)
{
    if (progress >= 1.0)
        return 1.0;
    if (progress <= 0.0)
        return 0.0;
    return normalisedSpring(progress * kSettle) / normalisedSpring(kSettle);
}

qreal bezierEasing(qreal progress)
{
    return easeInOut(progress);
}

bool g_reduceMotion = false;

} // namespace

double spring(double t, double response)
{
    if (!(t > 0) || !(response > 0))
        return t > 0 ? 1.0 : 0.0;
    const double omega = 2.0 * std::numbers::pi / response;
    return normalisedSpring(omega * t);
}

double springSettleTime(double response)
{
    return kSettle * response / (2.0 * std::numbers::pi);
}

QEasingCurve springCurve()
{
    QEasingCurve curve;
    curve.setCustomType(&springEasing);
    return curve;
}

double easeInOut(double t)
{
    if (!(t > 0))
        return 0.0;
    if (t >= 1)
        return 1.0;
    // x(s) = 3(1-s)^2 s x1 + 3(1-s) s^2 x2 + s^3 with x1 = 0.42, x2 = 0.58; solve x(s) = t, then y(s).
    constexpr double x1 = 0.42, x2 = 0.58;
    auto bez = [](double s, double p1, double p2) {
        const double u = 1 - s;
        return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
    };
    double lo = 0, hi = 1, s = t;
    for (int i = 0; i < 60; ++i) {
        s = (lo + hi) / 2;
        if (bez(s, x1, x2) < t)
            lo = s;
        else
            hi = s;
    }
    return bez(s, 0.0, 1.0);
}

QEasingCurve easeInOutCurve()
{
    QEasingCurve curve;
    curve.setCustomType(&bezierEasing);
    return curve;
}

bool reduceMotion() { return g_reduceMotion; }
void setReduceMotion(bool on) { g_reduceMotion = on; }

void configureSpring(QVariantAnimation& animation, double response)
{
    if (g_reduceMotion) {
        animation.setDuration(0);
        return;
    }
    animation.setDuration(int(std::lround(springSettleTime(response) * 1000)));
    animation.setEasingCurve(springCurve());
}

void configureEase(QVariantAnimation& animation, double seconds)
{
    if (g_reduceMotion) {
        animation.setDuration(0);
        return;
    }
    animation.setDuration(int(std::lround(seconds * 1000)));
    animation.setEasingCurve(easeInOutCurve());
}

} // namespace motion
