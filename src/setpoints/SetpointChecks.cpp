#include "SetpointChecks.h"

#include "link/ModbusFrame.h"

namespace zrv::setpoints {

namespace {

constexpr uint16_t kFirstBlockCount = reg::kHoldingCount;  // 114
constexpr uint16_t kLastBlockCount = 11;

struct Compare {
    uint16_t a;
    bool lessThan;  // fails when a < b; otherwise when a > b
    uint16_t b;
    const char* message;
};

// The letters B and H in these messages are Latin; the unbalanced
// parentheses are the device documentation's own.
constexpr Compare kCrossChecks[] = {
    {reg::kP2B_PA, true, reg::kP2H_PA, "P2B(PA)<P2H(PA)"}, {reg::kP2B_PA, false, reg::kP2Max, "P2B(PA)>P2 MAX"},
    {reg::kP2H_PA, true, reg::kP2Min, "P2H(PA)<P2 MIN)"},  {reg::kP2B_QA, true, reg::kP2H_QA, "P2B(QA)<P2H(QA)"},
    {reg::kP2B_QA, false, reg::kP2Max, "P2B(QA)>P2 MAX"},  {reg::kP2H_QA, true, reg::kP2Min, "P2H(QA)<P2 MIN)"},
    {reg::kP2B_QM, true, reg::kP2H_QM, "P2B(QM)<P2H(QM)"}, {reg::kP2B_QM, false, reg::kP2Max, "P2B(QM)>P2 MAX"},
    {reg::kP2H_QM, true, reg::kP2Min, "P2H(QM)<P2 MIN)"},  {reg::kP2M_QM, false, reg::kP2H_QM, "P2M>P2H(QM)"},
    {reg::kP1B_PA, true, reg::kP1H_PA, "P1B(PA)<P1H(PA)"}, {reg::kP1B_PA, false, reg::kP1Max, "P1B(PA)>P1 MAX"},
    {reg::kP1H_PA, true, reg::kP1Min, "P1H(PA)<P1 MIN)"},  {reg::kP1B_QA, true, reg::kP1H_QA, "P1B(QA)<P1H(QA)"},
    {reg::kP1B_QA, false, reg::kP1Max, "P1B(QA)>P1 MAX"},  {reg::kP1H_QA, true, reg::kP1Min, "P1H(QA)<P1 MIN)"},
    {reg::kP1B_QM, true, reg::kP1H_QM, "P1B(QM)<P1H(QM)"}, {reg::kP1B_QM, false, reg::kP1Max, "P1B(QM)>P1 MAX"},
    {reg::kP1H_QM, true, reg::kP1Min, "P1H(QM)<P1 MIN)"},  {reg::kP1M_QM, false, reg::kP1H_QM, "P1M>P1H(QM)"},
};

// Not a number is never within a range: a NaN read from the device must not
// pass a range check and go back to it.
bool outside(double v, double lo, double hi) { return !(v >= lo && v <= hi); }

}  // namespace

std::string checkBeforeWrite(RegisterImage& img, const ValveWeightArray& weights)
{
    std::string message;
    const auto f = [&img](uint16_t a) { return img.holdingF32(a); };
    const auto u = [&img](uint16_t a) { return unsigned(img.holding(a)); };

    // Every comparison is between the single-precision values. In these
    // cross-checks a NaN compares false and passes; the range checks below
    // refuse it.
    for (const Compare& c : kCrossChecks) {
        const bool fails = c.lessThan ? f(c.a) < f(c.b) : f(c.a) > f(c.b);
        if (fails) {
            message = c.message;
            break;
        }
    }

    for (int i = 1; i <= reg::kValveCount; ++i) {
        if (outside(f(uint16_t(reg::kSf1 + 2 * i)), 0.5, 2.0)) {
            // A faulty flow coefficient ends the checks here.
            return "Ошибка коэффициента Q" + std::to_string(i);
        }
    }

    for (int i = 1; i <= reg::kValveCount; ++i) {
        const uint8_t w = weights[std::size_t(i - 1)].load(std::memory_order_relaxed);
        if (w == 0 || w > 32) {
            message = "Ошибка весового коэффициента клапана " + std::to_string(i);
            break;
        }
        img.setHolding(uint16_t(reg::kZrvFactor1 + i - 1), w);
    }

    struct Param {
        bool fails;
        const char* message;
    };
    const double p1Type = double(u(reg::kP1Type));
    const Param params[] = {
        {u(reg::kP1Type) > 76, "Ошибка типа датчика давления P1"},
        {u(reg::kP2Type) > 76, "Ошибка типа датчика давления P2"},
        {u(reg::kTPA) > 600, "Ошибка TPA"},
        {u(reg::kTQA) > 600, "Ошибка TQA"},
        {outside(f(reg::kDPkr), 0.1, 9.9), "Ошибка допустимого отклонения выходного давления"},
        {outside(f(reg::kP2Min), 0.1, 9.9), "Ошибка минимального давления отсечки P2"},
        {outside(f(reg::kP2Max), 1.0, p1Type), "Ошибка максимального давления отсечки P2"},
        {outside(f(reg::kP1Min), 0.1, 9.9), "Ошибка минимального давления отсечки P1"},
        {outside(f(reg::kP1Max), 1.0, p1Type), "Ошибка максимального давления отсечки P1"},
        {outside(f(reg::kG), 0, 4), "Ошибка коэффициента G"},
        {outside(f(reg::kMu), 0, 2), "Ошибка поправки коэффициента обратного расхода"},
        {outside(f(reg::kPipeVolume), 0, 10000000), "Ошибка объема трубы"},
        {u(reg::kDiffStepMax) == 0 || u(reg::kDiffStepMax) > 20, "Ошибка максимального шага слова-состояния"},
        {u(reg::kTAvg) == 0 || u(reg::kTAvg) > 30, "Ошибка времени усреднения давления"},
    };
    for (const Param& p : params) {
        if (p.fails) {
            message = p.message;
            break;
        }
    }

    if (u(reg::kLogPeriod) == 0 || u(reg::kLogPeriod) > 32768)
        message = "Ошибка периода записи журнала событий";
    else if (u(reg::kLogTolerance) == 0 || u(reg::kLogTolerance) > 20)
        message = "Ошибка отклонения измеряемого парамера журнала событий";
    return message;
}

namespace {
bool blockTransfer(ModbusLink& link, uint8_t function, const std::function<bool()>& stop, const AttemptHook& attempt)
{
    constexpr int kAttempts = kFirstBlockCount - kLastBlockCount + 1;
    for (uint16_t n = kFirstBlockCount; n >= kLastBlockCount; --n) {
        if (stop && stop()) return false;
        if (attempt) attempt(kFirstBlockCount - n + 1, kAttempts);
        if (link.transact(function, 0, n).ok()) return true;
    }
    return false;
}
}  // namespace

bool readHoldingBlock(ModbusLink& link, const std::function<bool()>& stop, const AttemptHook& attempt)
{
    return blockTransfer(link, modbus::kReadHoldingRegisters, stop, attempt);
}

bool writeHoldingBlock(ModbusLink& link, const std::function<bool()>& stop, const AttemptHook& attempt)
{
    return blockTransfer(link, modbus::kWriteMultipleRegisters, stop, attempt);
}

}  // namespace zrv::setpoints
