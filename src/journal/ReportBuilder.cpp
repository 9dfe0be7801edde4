#include "ReportBuilder.h"

#include "text/NumberText.h"

#include <cmath>

namespace zrv::journal {

namespace {

std::string two(int v)
{
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

std::string u(unsigned v) { return std::to_string(v); }

DateTimeValue valueOf(const Stamp& s)
{
    DateTimeValue v;
    if (s.timeValid()) v.secondOfDay = s.hours * 3600 + s.minutes * 60 + s.seconds;
    if (s.dateValid()) v.days = text::daysFromEpoch({s.year, s.month, s.day});
    return v;
}

const char* const kHoldingNames[111] = {
    "Mode", "P1_type", "P2_type", "T zad", "TPA", "TQA", "Fault_Word", nullptr, "Log_Period", "Log_Tolerance",
    "Sec", "Min", "Hours", "Date", "Month", "Year",
    // 16..31: no names
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr,
    "P2B(PA)", nullptr, "P2H(PA)", nullptr, "P2B(QA)", nullptr, "P2H(QA)", nullptr, "P2B(QM)", nullptr,
    "P2H(QM)", nullptr, "P2M(QM)", nullptr, "прямой Qy", nullptr, "прямой Qm", nullptr, "P2_max", nullptr,
    "P2_min", nullptr, "DeltaP", nullptr, "dPkr", nullptr, "G", nullptr, "Sf1", nullptr,
    "Q1", nullptr, "Q2", nullptr, "Q3", nullptr, "Q4", nullptr, "Q5", nullptr, "Q6", nullptr, "Q7", nullptr,
    "Q8", nullptr,
    // 78 and 80 carry Cyrillic look-alikes: P1В(РА), P1Н(PA).
    "P1\u0412(\u0420\u0410)", nullptr, "P1\u041d(PA)", nullptr, "P1B(QA)", nullptr, "P1H(QA)", nullptr,
    "P1B(QM)", nullptr, "P1H(QM)", nullptr, "P1M(QM)", nullptr, "обратный Qy", nullptr, "обратный Qm", nullptr,
    "ZRV_factor1", "ZRV_factor2", "ZRV_factor3", "ZRV_factor4", "ZRV_factor5", "ZRV_factor6", "ZRV_factor7",
    "ZRV_factor8", "P1_max", nullptr, "P1_min", nullptr, "Mu", "DiffStep_max", "Pipe_Volume",
};
static_assert(sizeof(kHoldingNames) / sizeof(kHoldingNames[0]) == 111);

}  // namespace

std::string timeText(const text::TimeOfDay& t) { return std::to_string(t.hours) + ":" + two(t.minutes) + ":" + two(t.seconds); }

std::string dateText(const text::CivilDate& d)
{
    std::string year = std::to_string(d.year);
    if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
    return two(d.day) + "." + two(d.month) + "." + year;
}

std::string dateTimeText(const DateTimeValue& v)
{
    std::string out = dateText(text::dateFromDays(v.days));
    if (v.secondOfDay != 0)
        out += " " + timeText({v.secondOfDay / 3600, (v.secondOfDay % 3600) / 60, v.secondOfDay % 60});
    return out;
}

std::string stampText(const Stamp& s)
{
    std::string out;
    if (!s.timeValid()) out += " No Time  ";
    if (!s.dateValid()) out += " No Date  ";
    if (s.timeValid()) out += timeText({s.hours, s.minutes, s.seconds}) + "  ";
    if (s.dateValid()) out += dateText({s.year, s.month, s.day});
    // Valid time, valid date: "TIME  DATE"; the markers come first.
    return out;
}

std::string formatF(float v) { return text::formatFixed(v, 4, 2); }
std::string formatG(float v) { return text::formatGeneral(v, 7, 0.00001, 1); }
std::string formatG2(float v) { return text::formatGeneral(v, 7, 0.00001, 2); }

std::string entryRegisterName(bool input, uint8_t address)
{
    if (input) {
        switch (address) {
        case 0: return "P1";
        case 2: return "P2";
        case 4: return "T";
        case 6: return "Qi";
        default: return {};
        }
    }
    if (address < 111 && kHoldingNames[address]) return kHoldingNames[address];
    return {};
}

void ReportBuilder::setBase(const Stamp& s)
{
    m_base = valueOf(s);
    m_baseTimeValid = s.timeValid();
}

unsigned reportDeviceNumber(const RegisterImage& img)
{
    unsigned sum = 0;
    for (uint16_t i = 0; i < reg::kValveCount; ++i) sum += img.holding(uint16_t(reg::kZrvFactor1 + i));
    return sum;
}

std::string ReportBuilder::header(const RegisterImage& img, int slaveAddress)
{
    Stamp clock;
    clock.seconds = img.input(uint16_t(reg::kInClockSec + 0));
    clock.minutes = img.input(uint16_t(reg::kInClockSec + 1));
    clock.hours = img.input(uint16_t(reg::kInClockSec + 2));
    clock.day = img.input(uint16_t(reg::kInClockSec + 3));
    clock.month = img.input(uint16_t(reg::kInClockSec + 4));
    clock.year = uint16_t(img.input(uint16_t(reg::kInClockSec + 5)) + 2000);

    std::string out = stampText(clock) + "     ZRV-" + u(reportDeviceNumber(img)) + "\r\nMODBUS Address: " +
                      std::to_string(slaveAddress) + "\r\n";
    const auto line = [&out](const std::string& label, const std::string& value) { out += label + value + "\r\n"; };
    const auto U = [&img](uint16_t a) { return u(img.holding(a)); };
    const auto F = [&img](uint16_t a) { return formatF(img.holdingF32(a)); };
    const auto G = [&img](uint16_t a) { return formatG(img.holdingF32(a)); };

    // "Р" in Р1, Р2 and РА, and "А" in QА are Cyrillic, as on the device's forms.
    line("Текущий режим (Mode): ", U(reg::kMode));
    line("Тип датчика давления \u04201 (P1_type): ", U(reg::kP1Type));
    line("Тип датчика давления \u04202 (P2_type): ", U(reg::kP2Type));
    line("Задержка формирования исполнительной команды (T zad): ", U(reg::kTZad));
    line("Период выдачи сигналов управления в режиме \u0420\u0410 (TPA): ", U(reg::kTPA));
    line("Период выдачи сигналов управления в режиме Q\u0410 (TQA): ", U(reg::kTQA));
    line("Флаги отказов в работе регулятора (Fault_Word): ", U(reg::kFaultWord));
    line("Площадь проходного сечения ZRV (Szrv): H:", u(img.holding(reg::kSzrv) >> 8) + " L:" + u(img.holding(reg::kSzrv) & 0xFF));
    line("Период записи в журнал событий измеряемых параметров (Log_Period): ", U(reg::kLogPeriod));
    line("Предельное отклонение измеряемого параметра (Log_Tolerance): ", U(reg::kLogTolerance));
    line("P2B(PA): ", F(reg::kP2B_PA));
    line("P2H(PA): ", F(reg::kP2H_PA));
    line("P2B(QA): ", F(reg::kP2B_QA));
    line("P2H(QA): ", F(reg::kP2H_QA));
    line("P2B(QM): ", F(reg::kP2B_QM));
    line("P2H(QM): ", F(reg::kP2H_QM));
    line("P2M(QM): ", F(reg::kP2M_QM));
    line("Уставка расхода в режиме QA (Qy): ", G(reg::kQy));
    line("Уставка расхода в режиме QM (Qm): ", G(reg::kQm));
    line("Максимальное давление отсечки (P2 max): ", F(reg::kP2Max));
    line("Минимальное давление отсечки (P2 min): ", F(reg::kP2Min));
    line("Ширина дорожки (DeltaP): ", F(reg::kDeltaP));
    line("Ограничение на возможное отклонение \u0420вых (dPkr): ", F(reg::kDPkr));
    line("Коэффициент, определяющий погрешность регулирования (G): ", F(reg::kG));
    line("Площадь сечения первого клапана (Sf1): ", F(reg::kSf1));
    for (int i = 0; i < reg::kValveCount; ++i)
        line("Масштабный коэффициент расхода (Q" + std::to_string(i) + "): ", F(uint16_t(reg::kQ1 + 2 * i)));
    line("P1B(PA): ", F(reg::kP1B_PA));
    line("P1H(PA): ", F(reg::kP1H_PA));
    line("P1B(QA): ", F(reg::kP1B_QA));
    line("P1H(QA): ", F(reg::kP1H_QA));
    line("P1B(QM): ", F(reg::kP1B_QM));
    line("P1H(QM): ", F(reg::kP1H_QM));
    line("P1M(QM): ", F(reg::kP1M_QM));
    line("Уставка обратного расхода в режиме QA (Qy_r): ", G(reg::kQy_r));
    line("Уставка обратного расхода в режиме QM (Qm_r): ", G(reg::kQm_r));
    for (int i = 0; i < reg::kValveCount; ++i)
        line("Весовой коэффициент клапана (ZRV_factor" + std::to_string(i) + "): ", U(uint16_t(reg::kZrvFactor1 + i)));
    line("Максимальное давление отсечки для обратного потока(P1 max): ", F(reg::kP1Max));
    line("Минимальное давление отсечки для обратного потока(P1 min): ", F(reg::kP1Min));
    line("Поправка масштабного коэффициента Mq для обратного потока (Mu): ", F(reg::kMu));
    line("Объем трубы (Pipe_Volume): ", F(reg::kPipeVolume));
    line("Максимальный шаг изменения слова-состояния (DiffStep_max): ", U(reg::kDiffStepMax));

    setBase(clock);
    m_closing = clock.dateValid() ? dateText({clock.year, clock.month, clock.day}) : "неустановленную дату";
    return out;
}

std::string ReportBuilder::entryLine(const Entry& e) const
{
    std::string out = "   ";
    if (!m_baseTimeValid) {
        out += "   No Time    ";
    } else {
        DateTimeValue at = m_base;
        const int s = e.offsetSeconds;
        at.secondOfDay += (s / 3600) * 3600 + ((s % 3600) / 60) * 60 + s % 60;
        at.days += at.secondOfDay / 86400;
        at.secondOfDay %= 86400;
        out += "   " + dateTimeText(at) + "  ";
    }
    const uint8_t address = uint8_t(e.tag & 0xFF);
    out += e.isInput() ? "Input Register: " : "Holding Register: ";
    out += std::to_string(address) + " ";
    if (!e.isInput() && address == reg::kSzrv)
        out += "Szrv H:" + u(e.value >> 8) + " L:" + u(e.value & 0xFF);
    else
        out += entryRegisterName(e.isInput(), address);
    out += "=";
    if (e.isFloat()) {
        const float f = floatFromHalves(e.value, e.valueHigh);
        out += std::isfinite(f) ? formatG2(f) : "  Error  ";
    } else {
        out += u(e.value);
    }
    return out + "\r\n\r\n";
}

Stamp stampOf(const DecodedRecord& r)
{
    Stamp s;
    s.seconds = r.words[1] >> 8;
    s.minutes = r.words[1] & 0xFF;
    s.hours = r.words[2] >> 8;
    s.day = r.words[2] & 0xFF;
    s.month = r.words[3] >> 8;
    s.year = (r.words[3] & 0xFF) + 2000;
    return s;
}

std::string ReportBuilder::recordPiece(const DecodedRecord& r)
{
    std::string out;
    for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) out += entryLine(*it);
    const Stamp s = stampOf(r);
    out += stampText(s) + "  P1=" + formatF(r.p1) + " P2=" + formatF(r.p2) + " T=" + formatF(r.t) +
           " Q=" + formatG(r.q) + "\r\n";
    setBase(s);
    m_opening = s.dateValid() ? dateText({s.year, s.month, s.day}) : "неустановленной даты";
    return out;
}

std::string ReportBuilder::summary(int32_t n) const
{
    const int64_t m10 = ((int64_t(n) % 10) + 10) % 10, m100 = ((int64_t(n) % 100) + 100) % 100;
    const bool one = m10 == 1 && m100 != 11;
    std::string out = std::string("Загружен") + (one ? "а " : "о ") + std::to_string(n) + " запис";
    out += one ? "ь" : (m10 >= 2 && m10 <= 4) ? "и" : "ей";
    return out + " в период c " + m_opening + " по " + m_closing;
}

}  // namespace zrv::journal
