// SPDX-License-Identifier: MIT
#include "ui/qt_monitor_scroll_bar.h"

#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionComplex>

#include <cmath>

void BandedPaintStyle::drawComplexControl(ComplexControl control,
                                          const QStyleOptionComplex* option, QPainter* painter,
                                          const QWidget* widget) const {
    const QRect area = option->rect;
    const bool tall = area.height() >= area.width();
    const int length = tall ? area.height() : area.width();
    if (control != CC_ScrollBar || length <= kBandPixels || !painter->device()) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // A clip alone does not do: lines are stroked whole before they are clipped. Each band is
    // drawn into an image of its own, then put in place. Bands run along the bar: a line along
    // it is stroked a pixel at a time, so its span count is its length.
    const QSize bandSize = tall ? QSize(area.width(), kBandPixels) : QSize(kBandPixels, area.height());
    const qreal ratio = painter->device()->devicePixelRatioF();
    QImage band(static_cast<int>(std::ceil(bandSize.width() * ratio)),
                static_cast<int>(std::ceil(bandSize.height() * ratio)),
                QImage::Format_ARGB32_Premultiplied);
    band.setDevicePixelRatio(ratio);
    for (int offset = 0; offset < length; offset += kBandPixels) {
        const QPoint origin = tall ? QPoint(area.left(), area.top() + offset)
                                   : QPoint(area.left() + offset, area.top());
        band.fill(Qt::transparent);
        {
            QPainter p(&band);
            p.setRenderHints(painter->renderHints());
            p.translate(-origin);
            QProxyStyle::drawComplexControl(control, option, &p, widget);
        }
        painter->drawImage(origin, band);
    }
}

MonitorScrollBar::MonitorScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    // No base style given: the proxy follows the application's style.
    auto* banded = new BandedPaintStyle();
    banded->setParent(this);
    setStyle(banded);
}

void MonitorScrollBar::sliderChange(SliderChange change) {
    const Look look{minimum(), maximum(), value(), pageStep(), isSliderDown()};
    if (change != SliderOrientationChange && look == m_look) return;
    m_look = look;
    QScrollBar::sliderChange(change);
}
