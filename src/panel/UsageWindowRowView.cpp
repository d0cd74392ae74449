#include "UsageWindowRowView.h"

#include "Appearance.h"
#include "CardLabels.h"
#include "PanelAccessibility.h"
#include "PanelPalette.h"
#include "RelativeTime.h"
#include "UsageObservationAge.h"
#include "UsageProgressBar.h"

#include <QBoxLayout>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

using cardlabels::roleColour;

class UsageWindowRowView::TitleLine final : public QWidget {
public:
    TitleLine(UsageWindowRowView* row) : QWidget(row), m_row(row)
    {
        panelaccess::hide(this);
        setFixedHeight(int(std::ceil(QFontMetricsF(titleFont()).height())));
    }
    static QFont titleFont() { return fonts::style(TextStyle::caption, QFont::Medium); }
    static QFont percentFont() { return fonts::style(TextStyle::caption, QFont::DemiBold); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        const UsageWindowRowModel& m = m_row->model();
        const QFontMetricsF pm(percentFont());
        const qreal percentWidth = std::ceil(pm.horizontalAdvance(m.percentText));
        const qreal titleWidth = std::max<qreal>(0, width() - percentWidth - (percentWidth > 0 ? 8 : 0));
        p.setFont(titleFont());
        p.setPen(roleColour(PanelColor::panelPrimaryText, 0.92));
        p.drawText(QRectF(0, 0, titleWidth, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(titleFont()).elidedText(m.title, Qt::ElideRight, titleWidth));
        if (percentWidth > 0) {
            p.setFont(percentFont());
            p.setPen(m.accent.resolve(Appearance::shared().isDark()));
            m_row->percentMotion().paint(p, QRectF(width() - percentWidth - 1, 0, percentWidth + 1, height()),
                                         Qt::AlignRight | Qt::AlignVCenter);
        }
    }

private:
    UsageWindowRowView* m_row;
};

UsageWindowRowView::UsageWindowRowView(QWidget* parent, Scheduler* scheduler)
    : QWidget(parent)
    , m_percent(new NumericTextMotion(this))
{
    panelaccess::setValue(this, QString());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(int(kSpacing));
    m_title = new TitleLine(this);
    layout->addWidget(m_title);
    m_bar = new UsageProgressBar(this);
    layout->addWidget(m_bar);
    m_reset = new LiveTimeLabel(this, scheduler);
    m_reset->setFont(fonts::style(TextStyle::caption2));
    m_reset->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cardlabels::followTextRole(m_reset, PanelColor::panelSecondaryText);
    panelaccess::hide(m_reset);
    layout->addWidget(m_reset);
    m_reset->hide();
    connect(m_percent, &NumericTextMotion::changed, m_title, qOverload<>(&QWidget::update));
}

void UsageWindowRowView::apply(const UsageWindowRowModel& model)
{
    if (m_applied && model == m_model)
        return;
    const bool resetChanged = !m_applied || model.resetsAt != m_model.resetsAt;
    m_applied = true;
    m_model = model;
    m_percent->setText(model.percentText);
    m_bar->setAccent(model.accent);
    m_bar->setProgress(model.progress);
    if (resetChanged) {
        if (model.resetsAt) {
            const Timestamp target = *model.resetsAt;
            m_reset->setWording(
                [target](Timestamp now) {
                    return cardtext::kAutoReset + QLatin1Char(' ') + relativetime::countdownText(target, now);
                },
                [target](Timestamp now) { return relativetime::nextCountdownChange(target, now); });
        } else {
            m_reset->setWording({}, {});
            m_reset->clear();
        }
    }
    m_reset->setVisible(model.resetsAt.has_value());
    setAccessibleName(model.accessibleName);
    panelaccess::setValue(this, model.accessibleValue);
    m_title->update();
}
