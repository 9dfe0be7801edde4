#include "ValveLogic.h"

#include "text/NumberText.h"

namespace zrv {

std::string openingText(const RegisterImage& image)
{
    float open = 0, total = 0;
    for (uint16_t k = 0; k < reg::kValveCount; ++k) {
        const float w = float(image.holding(uint16_t(reg::kZrvFactor1 + k)));
        if (image.discrete(k)) open = open + w;
        total = total + w;
    }
    if (total == 0) return "н/д";
    const float opening = open * 100.0f / total;
    return text::formatGeneral(opening, 4) + "%";
}

ValveHoldOffStep runValveHoldOff(uint8_t& counter, const RegisterImage& image)
{
    ValveHoldOffStep out;
    const bool external = image.coil(reg::kCoilExternalControl) == 1;
    if (counter != 0) {
        out.disableButtons = true;
        --counter;
        bool confirmed = true;
        for (uint16_t i = 0; i < reg::kValveCount; ++i)
            confirmed = confirmed && image.coil(i) == image.discrete(i);
        if (confirmed) {
            counter = 0;
            out.enableButtonsForMode = external;
        }
    } else {
        out.enableButtonsForMode = external;
    }
    return out;
}

bool runModeHoldOff(uint8_t& counter)
{
    if (counter == 0) return true;
    --counter;
    return false;
}

}  // namespace zrv
