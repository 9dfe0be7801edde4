// Any text typed into any row of the setpoint tables, then the checks before
// a write. A stored value is a finite number; a refused one changes nothing;
// the checks end with one of their own messages or none.

#include "FuzzCheck.h"
#include "setpoints/SetpointCatalogue.h"
#include "setpoints/SetpointChecks.h"

#include <cmath>
#include <cstring>

using namespace zrv;
using namespace zrv::setpoints;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const int tab = data[0] % 5;
    const int subTab = (tab <= 1) ? data[1] % 3 : kNoSubTab;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    static RegisterImage img;
    static ValveWeightArray weights{};
    for (const Row* r : rowsFor(tab, subTab)) {
        uint16_t before[reg::kHoldingCount];
        for (uint16_t a = 0; a < reg::kHoldingCount; ++a) before[a] = img.holding(a);
        const EditResult e = applyEdit(tab, subTab, r->row, text, img, weights);
        if (e.kind == EditResult::Stored) {
            if (r->edit == Edit::AsEntered || r->edit == Edit::TimesThousand)
                FUZZ_CHECK(std::isfinite(img.holdingF32(r->reg)));
        } else {
            for (uint16_t a = 0; a < reg::kHoldingCount; ++a) FUZZ_CHECK(img.holding(a) == before[a]);
            if (e.kind != EditResult::Ignored) FUZZ_CHECK(!e.message.empty());
        }
    }
    const std::string message = checkBeforeWrite(img, weights);
    FUZZ_CHECK(message.empty() || message.find("Ошибка") == 0 || message.find('(') != std::string::npos);
    return 0;
}
