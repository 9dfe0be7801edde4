#include "PollSnapshot.h"

namespace zrv {

PollSnapshot snapshotOf(const RegisterImage& img)
{
    PollSnapshot s;
    s.measurements = {img.inputF32(reg::kInP1), img.inputF32(reg::kInP2),   img.inputF32(reg::kInTg),
                      img.inputF32(reg::kInQi), img.inputF32(reg::kInVbat), img.inputF32(reg::kInMq)};
    for (uint16_t i = 0; i < reg::kValveCount; ++i)
        s.valves[i] = valveColour(img.discrete(i), img.discrete(uint16_t(i + reg::kValveCount)));
    s.opening = openingText(img);
    s.mainsPower = img.discrete(reg::kInMainsPower) != 0;
    s.mode = img.holding(reg::kMode);
    s.deviceNumber = img.deviceNumber();
    s.externalControl = img.coil(reg::kCoilExternalControl) == 1;
    return s;
}

}  // namespace zrv
