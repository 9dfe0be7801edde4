#pragma once
// The operator's setpoint edits that the device does not hold yet: typed
// values, typed valve weights and a loaded setpoint file. They are kept apart
// from the register image, which only the line writes, and laid over it
// wherever the table shows a value and right before the block write, so a
// refresh of the tables (a journal reading reads them all again) never
// replaces what the table shows, and what the table shows is what is sent.

#include "setpoints/SetpointCatalogue.h"
#include "setpoints/SetpointFile.h"

#include <array>
#include <memory>
#include <optional>

namespace zrv::setpoints {

// The rows the operator changed, by register and by valve.
struct DraftRows {
    std::array<std::optional<uint16_t>, kSetpointRegisters> holding{};
    std::array<std::optional<uint8_t>, reg::kValveCount> weights{};

    bool empty() const;
    // Into the image and the pending weights: the I/O thread does this right
    // before the checks and the write.
    void applyTo(RegisterImage& image, ValveWeightArray& weights) const;
};

class SetpointDraft {
public:
    SetpointDraft();
    ~SetpointDraft();
    SetpointDraft(const SetpointDraft&) = delete;
    SetpointDraft& operator=(const SetpointDraft&) = delete;

    // One change of a value cell's text, converted as the table converts it,
    // over the image and the weights as the device gave them.
    EditResult edit(int tab, int subTab, int row, std::string_view text, const RegisterImage& image,
                    const ValveWeightArray& weights);
    // A set from a file, taken as if typed: each register and weight that
    // differs from the device's becomes a draft row, and one equal to the
    // device's is no draft row, whatever was typed there before. The mode (0) and the
    // device number's registers (96..103) are left out: polling reads them
    // anew every second, and the weights travel on their own.
    void take(const SetpointSet& set, const RegisterImage& image, const ValveWeightArray& weights);

    const DraftRows& rows() const { return m_rows; }
    bool empty() const { return m_rows.empty(); }
    void clear() { m_rows = {}; }
    // After a write of `written`: the rows it carried are the device's now;
    // a row typed anew meanwhile stays.
    void forget(const DraftRows& written);

    // Holding registers 0..113 as the table shows them: the image with the
    // draft over it (a drafted weight in its register 96..103).
    const RegisterImage& view(const RegisterImage& image, const ValveWeightArray& weights);
    SetpointSet viewSet(const RegisterImage& image, const ValveWeightArray& weights);

private:
    DraftRows m_rows;
    std::unique_ptr<RegisterImage> m_view;
    std::unique_ptr<ValveWeightArray> m_viewWeights;
};

}  // namespace zrv::setpoints
