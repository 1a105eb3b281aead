// SPDX-License-Identifier: MIT
#include "core/survey_tally.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/profile_text.h"
#include "core/rendered_fields.h"

void SurveyTally::reset() {
    m_counts.fill(0);
    m_countersShown = false;
    m_statusText.clear();
    clearGrid();
}

void SurveyTally::clearGrid() { m_rows.fill(SurveyRow{}); }

SurveyInputResult SurveyTally::keyInput(QStringView rendered, bool running, bool keyChange) {
    SurveyInputResult result;
    if (!running || rendered.size() < kMinSurveyTextLength) return result;
    const QString maker = copyText(rendered, kKeyTextStart, kSurveyMakerText.size());
    if (maker != kSurveyMakerText) return result;
    m_statusText = maker;
    result.statusChanged = true;

    const QString device = transmitterIdText(rendered);
    const QString keyText = copyText(rendered, kKeyNumberStart, 2);
    const int key = integerFieldValue(keyText);
    if (key < 1 || key > kSurveyKeys) return result;

    // A row is tested for the device before it is tested for being free.
    for (int i = 0; i < kSurveyRows; ++i) {
        SurveyRow& r = m_rows[static_cast<size_t>(i)];
        if (r.deviceId == device) {
            if (keyChange) {
                const int old = integerFieldValue(r.key);
                if (old >= 1 && old <= kSurveyKeys) --m_counts[static_cast<size_t>(old - 1)];
                ++m_counts[static_cast<size_t>(key - 1)];
                r.key = keyText;
                result.changedRow = i + 1;
            }
            break;
        }
        if (r.deviceId.isEmpty()) {
            ++m_counts[static_cast<size_t>(key - 1)];
            r.deviceId = device;
            r.key = keyText;
            result.changedRow = i + 1;
            break;
        }
    }
    m_countersShown = true;
    result.countersShown = true;
    return result;
}

int SurveyTally::count(int key) const { return m_counts.at(static_cast<size_t>(key - 1)); }

QString SurveyTally::counterText(int key) const {
    return m_countersShown ? QString::number(count(key)) : QString();
}

const SurveyRow& SurveyTally::row(int row) const { return m_rows.at(static_cast<size_t>(row - 1)); }

QString SurveyTally::cellText(int row, int column) const {
    static const std::array<QString, kSurveyGridColumns> headers{
        QStringLiteral("No"), QStringLiteral("DeviceID"), QStringLiteral("Key"),
        QStringLiteral("Comments")};
    if (column < 0 || column >= kSurveyGridColumns || row < 0 || row > kSurveyRows) return {};
    if (row == 0) return headers[static_cast<size_t>(column)];
    switch (column) {
        case 0:
            return surveyRowNumberText(row);
        case 1:
            return this->row(row).deviceId;
        case 2:
            return this->row(row).key;
        default:
            return {};
    }
}

QString surveyRowNumberText(int row) { return QStringLiteral("%1").arg(row, 3); }

int runBarMaximum(QStringView runTimeText) {
    const std::int64_t seconds = std::max(strToInt(runTimeText.toLatin1()).value_or(10), 0);
    return static_cast<int>(std::min<std::int64_t>(2 * seconds, std::numeric_limits<int>::max()));
}
