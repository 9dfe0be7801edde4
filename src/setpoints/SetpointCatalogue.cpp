#include "SetpointCatalogue.h"

#include "text/NumberParse.h"
#include "text/NumberText.h"

#include <cmath>

namespace zrv::setpoints {

namespace {
constexpr int PA = 0, QA = 1, QM = 2, NONE = kNoSubTab;
}

const std::vector<Row>& catalogue()
{
    using D = Display;
    using E = Edit;
    // "В" and "Н" in the pressure labels are Cyrillic (upper, lower); "M" and
    // the Q labels are Latin.
    static const std::vector<Row> rows = [] {
        std::vector<Row> r = {
            {0, PA, 1, "P2В (кгс/кв.см)", reg::kP2B_PA, D::G4, E::AsEntered},
            {0, PA, 2, "P2Н (кгс/кв.см)", reg::kP2H_PA, D::G4, E::AsEntered},
            {0, QA, 1, "P2В (кгс/кв.см)", reg::kP2B_QA, D::G4, E::AsEntered},
            {0, QA, 2, "P2Н (кгс/кв.см)", reg::kP2H_QA, D::G4, E::AsEntered},
            {0, QA, 3, "Qy (тыс. нм3/ч)", reg::kQy, D::Thousandths, E::TimesThousand},
            {0, QM, 1, "P2В (кгс/кв.см)", reg::kP2B_QM, D::G4, E::AsEntered},
            {0, QM, 2, "P2Н (кгс/кв.см)", reg::kP2H_QM, D::G4, E::AsEntered},
            {0, QM, 3, "P2M (кгс/кв.см)", reg::kP2M_QM, D::G4, E::AsEntered},
            {0, QM, 4, "Qm (тыс. нм3/ч)", reg::kQm, D::Thousandths, E::TimesThousand},
            {1, PA, 1, "P1В (кгс/кв.см)", reg::kP1B_PA, D::G4, E::AsEntered},
            {1, PA, 2, "P1Н (кгс/кв.см)", reg::kP1H_PA, D::G4, E::AsEntered},
            {1, QA, 1, "P1В (кгс/кв.см)", reg::kP1B_QA, D::G4, E::AsEntered},
            {1, QA, 2, "P1Н (кгс/кв.см)", reg::kP1H_QA, D::G4, E::AsEntered},
            {1, QA, 3, "Qyr (тыс. нм3/ч)", reg::kQy_r, D::Thousandths, E::TimesThousand},
            {1, QM, 1, "P1В (кгс/кв.см)", reg::kP1B_QM, D::G4, E::AsEntered},
            {1, QM, 2, "P1Н (кгс/кв.см)", reg::kP1H_QM, D::G4, E::AsEntered},
            {1, QM, 3, "P1M (кгс/кв.см)", reg::kP1M_QM, D::G4, E::AsEntered},
            {1, QM, 4, "Qmr (тыс. нм3/ч)", reg::kQm_r, D::Thousandths, E::TimesThousand},
            {2, NONE, 1, "Площадь первого клапана (кв. мм)", reg::kSf1, D::G4, E::AsEntered},
        };
        static const char* const q[] = {"Q1", "Q2", "Q3", "Q4", "Q5", "Q6", "Q7", "Q8"};
        static const char* const w[] = {"Вес клапана 1", "Вес клапана 2", "Вес клапана 3", "Вес клапана 4",
                                        "Вес клапана 5", "Вес клапана 6", "Вес клапана 7", "Вес клапана 8"};
        for (int i = 0; i < reg::kValveCount; ++i) r.push_back({2, NONE, 2 + i, q[i], uint16_t(reg::kQ1 + 2 * i), D::G4, E::AsEntered});
        for (int i = 0; i < reg::kValveCount; ++i) r.push_back({2, NONE, 10 + i, w[i], uint16_t(reg::kZrvFactor1 + i), D::Integer, E::Weight});
        const std::vector<Row> rest = {
            {3, NONE, 1, "Тип датчика P1 (кгс/кв.см)", reg::kP1Type, D::G4OfInteger, E::Integer},
            {3, NONE, 2, "Тип датчика P2 (кгс/кв.см)", reg::kP2Type, D::G4OfInteger, E::Integer},
            {3, NONE, 3, "Период управления TPA (с)", reg::kTPA, D::G4OfInteger, E::Integer},
            {3, NONE, 4, "Период управления TPQ (с)", reg::kTQA, D::G4OfInteger, E::Integer},
            {3, NONE, 5, "Допустимое отклонение dPкр (кгс/кв.см)", reg::kDPkr, D::G4, E::AsEntered},
            {3, NONE, 6, "P2 отсечки max (кгс/кв.см)", reg::kP2Max, D::G4, E::AsEntered},
            {3, NONE, 7, "P2 отсечки min (кгс/кв.см)", reg::kP2Min, D::G4, E::AsEntered},
            {3, NONE, 8, "P1 отсечки max (кгс/кв.см)", reg::kP1Max, D::G4, E::AsEntered},
            {3, NONE, 9, "P1 отсечки min (кгс/кв.см)", reg::kP1Min, D::G4, E::AsEntered},
            {3, NONE, 10, "Точность регулирования G", reg::kG, D::G4, E::AsEntered},
            {3, NONE, 11, "Поправка обратного расхода", reg::kMu, D::G4, E::AsEntered},
            {3, NONE, 12, "Объем трубы (тыс. куб. м)", reg::kPipeVolume, D::G4, E::AsEntered},
            {3, NONE, 13, "Максимальный шаг слова-состояния", reg::kDiffStepMax, D::Integer, E::Integer},
            {3, NONE, 14, "Время усреднения давления (с)", reg::kTAvg, D::Integer, E::Integer},
            {4, NONE, 1, "Период записи (сек)", reg::kLogPeriod, D::G4OfInteger, E::Integer},
            {4, NONE, 2, "Отклонение параметра (%)", reg::kLogTolerance, D::G4OfInteger, E::Integer},
        };
        r.insert(r.end(), rest.begin(), rest.end());
        return r;
    }();
    return rows;
}

std::vector<const Row*> rowsFor(int tab, int subTab)
{
    std::vector<const Row*> out;
    const bool split = tab == 0 || tab == 1;
    if (split && (subTab < 0 || subTab >= kSubTabCount)) return out;
    for (const Row& r : catalogue())
        if (r.tab == tab && (!split || r.subTab == subTab)) out.push_back(&r);
    return out;
}

const Row* findRow(int tab, int subTab, int row)
{
    for (const Row* r : rowsFor(tab, subTab))
        if (r->row == row) return r;
    return nullptr;
}

std::string labelFor(const Row& row, bool builtBySubTabChange)
{
    if (builtBySubTabChange && row.tab == 0 && row.subTab == QA && row.row == 3) return "Qy";
    return row.label;
}

std::string displayText(const Row& row, const RegisterImage& image)
{
    switch (row.display) {
    case Display::G4: return text::formatGeneral(image.holdingF32(row.reg), 4);
    case Display::G4OfInteger: return text::formatGeneral(double(image.holding(row.reg)), 4);
    case Display::Integer: return std::to_string(image.holding(row.reg));
    case Display::Thousandths: return text::formatGeneral(double(image.holdingF32(row.reg)) * 0.001, 4);
    }
    return {};
}

EditResult applyEdit(int tab, int subTab, int rowNumber, std::string_view cellText, RegisterImage& image,
                     ValveWeightArray& weights)
{
    if (cellText.empty()) return {};
    std::string error;
    const std::optional<float> number = text::parseFloat(cellText, &error);
    if (!number) return {EditResult::NotANumber, error};
    const Row* row = findRow(tab, subTab, rowNumber);
    if (!row) return {};
    switch (row->edit) {
    case Edit::AsEntered:
        image.setHoldingF32(row->reg, *number);
        break;
    case Edit::TimesThousand: {
        const float scaled = *number * 1000.0f;
        if (!std::isfinite(scaled)) return {EditResult::NotANumber, "'" + std::string(cellText) +
                                                                        "' is not a valid floating point value"};
        image.setHoldingF32(row->reg, scaled);
        break;
    }
    case Edit::Integer: {
        // Low 16 bits of the truncated number: -1 stores 65535.
        double low = std::fmod(std::trunc(double(*number)), 65536.0);
        if (low < 0) low += 65536.0;
        image.setHolding(row->reg, uint16_t(low));
        break;
    }
    case Edit::Weight: {
        // Whole numbers only: the float is written back in its shortest form
        // and that text must read as an integer (2.5 does not).
        const std::string shortest = text::formatGeneral(*number, 15);
        const std::optional<int32_t> whole = text::parseInteger(shortest, &error);
        if (!whole) return {EditResult::NotAWhole, error};
        weights[std::size_t(row->reg - reg::kZrvFactor1)].store(uint8_t(uint32_t(*whole) & 0xFF),
                                                                std::memory_order_relaxed);
        break;
    }
    }
    return {EditResult::Stored, {}};
}

}  // namespace zrv::setpoints
