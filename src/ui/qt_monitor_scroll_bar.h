// SPDX-License-Identifier: MIT
#pragma once
// Paints scroll bars in bands. The raster engine hands any fill of more than about a hundred
// spans (rows, or pixels of a stroked line) to worker threads and waits for them; for a scroll
// bar the hand-off costs several times the fill, and a monitor that scrolls repaints its bars
// every frame. A band is small enough to be filled on the painting thread; the picture is the
// same.

#include <QProxyStyle>
#include <QScrollBar>

class BandedPaintStyle final : public QProxyStyle {
    Q_OBJECT
public:
    // Pixels per band along the bar: below the engine's threshold for splitting a fill.
    static constexpr int kBandPixels = 32;

    using QProxyStyle::QProxyStyle;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
};

// A scroll bar for a view that grows all the time: painted in bands, and not repainted when
// a change leaves range, value, page and slider as they were (a view re-sets its ranges at
// every change of its contents).
class MonitorScrollBar final : public QScrollBar {
    Q_OBJECT
public:
    explicit MonitorScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;

private:
    struct Look {
        int minimum = 0;
        int maximum = 0;
        int value = 0;
        int pageStep = 0;
        bool down = false;
        bool operator==(const Look&) const = default;
    };
    Look m_look;
};
