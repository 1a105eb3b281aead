// SPDX-License-Identifier: MIT
#pragma once
// The survey's count of transmitters per key, kept apart from its window: the grid's rows, the
// four counters and the run's progress arithmetic. The window shows what this holds after each
// call and does the rest (widgets, clock tick, chime, clearing the monitor).

#include <QString>
#include <QStringView>
#include <array>

inline constexpr int kSurveyRows = 100;
inline constexpr int kSurveyKeys = 4;
inline constexpr int kSurveyGridColumns = 4;
inline constexpr int kMinSurveyTextLength = 76;  // a unit of at least 19 bytes
inline const QString kSurveyMakerText = QStringLiteral("83h 41h");

struct SurveyRow {
    QString deviceId;  // "12h 34h 56h 78h"; "" while the row is free
    QString key;       // the key as received, "01" to "04"; "" while free
};

struct SurveyInputResult {
    bool statusChanged = false;  // sBar panel 1 now reads statusText()
    bool countersShown = false;  // the four counter panels are rewritten from counterText()
    int changedRow = 0;          // the grid row (1 to 100) filled or re-keyed; 0: none
};

class SurveyTally {
public:
    // The run's start (and the window's creation): counters to 0, their panels and sBar empty,
    // every row free.
    void reset();
    // The grid set-up of a first show: rows free, counters and their panels kept.
    void clearGrid();

    // One rendered key frame. `running` is btnStart being down; `keyChange` is the
    // "Key Change Enabled" box, which lets a listed transmitter move to another key.
    SurveyInputResult keyInput(QStringView rendered, bool running, bool keyChange);

    [[nodiscard]] int count(int key) const;  // key 1 to 4
    // pnlKct1..4: "" from a reset until the first frame that reaches the rows.
    [[nodiscard]] QString counterText(int key) const;
    [[nodiscard]] const QString& statusText() const { return m_statusText; }
    [[nodiscard]] const SurveyRow& row(int row) const;  // row 1 to 100
    // sGrid's cell as shown: row 0 holds the headers, column 0 the row numbers ("%3d").
    [[nodiscard]] QString cellText(int row, int column) const;

private:
    std::array<int, kSurveyKeys> m_counts{};
    bool m_countersShown = false;
    QString m_statusText;
    std::array<SurveyRow, kSurveyRows> m_rows;
};

inline constexpr std::array<int, kSurveyGridColumns> kSurveyColumnWidths{24, 200, 40, 300};
[[nodiscard]] QString surveyRowNumberText(int row);

// prgBar's maximum: two ticks of 500 ms per second of the run time text (10 seconds when it is
// no integer, none when negative), held to what an int can count.
[[nodiscard]] int runBarMaximum(QStringView runTimeText);

enum class RunTick { Advance, End };
// One clock tick of a running survey: advance the bar by one, or, once it stands at its maximum,
// end the run (raise btnStart, caption "Start", "chimes.wav").
[[nodiscard]] constexpr RunTick runTick(int position, int maximum) {
    return position < maximum ? RunTick::Advance : RunTick::End;
}

// The grid pane is columns 0 to 2 plus a margin; "Comments" lies beyond its edge on purpose.
[[nodiscard]] constexpr int surveyGridPaneWidth(int width0, int width1, int width2) {
    return width0 + width1 + width2 + 24;
}
// Left edge that centres a window on the screen; a window wider than the screen goes partly
// off its left edge, the halving rounded toward zero.
[[nodiscard]] constexpr int centredLeft(int screenWidth, int windowWidth) {
    return (screenWidth - windowWidth) / 2;
}
